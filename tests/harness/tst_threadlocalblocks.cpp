// The sanitizer pass's leak check at exit scans every thread's blocks of thread-local storage
// taken at run time. A block that starts 16 bytes into a page must not make it scan a range of
// made-up bounds and crash, as libjpeg's did once in some hundreds of runs of the user-info test:
// this test passes when the process ends well after it.

#include <QtTest>

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>

class TestThreadLocalBlocks : public QObject
{
    Q_OBJECT

private slots:
    void blockSixteenBytesIntoAPage();
};

void TestThreadLocalBlocks::blockSixteenBytesIntoAPage()
{
#if !defined(__SANITIZE_ADDRESS__)
    QSKIP("the heap's layout is the sanitizer allocator's");
#else
    void* module = dlopen(THREAD_LOCAL_MODULE, RTLD_NOW);
    QVERIFY2(module, dlerror());
    const auto slot = reinterpret_cast<long* (*)()>(dlsym(module, "ThreadLocalSlot"));
    QVERIFY(slot);
    // Small blocks of one size follow each other 32 bytes apart: once a few have, the block
    // after one that starts 16 bytes short of a page's end starts 16 bytes into the next page.
    // They stay reachable till the end, from memory no destructor frees.
    static void* kept[400000];
    int run = 0;
    for (size_t k = 0; k < sizeof kept / sizeof *kept; ++k) {
        kept[k] = std::malloc(8);
        run = k > 0 && quintptr(kept[k]) == quintptr(kept[k - 1]) + 32 ? run + 1 : 0;
        if (run >= 4 && quintptr(kept[k]) % 4096 == 4080)
            break;
    }
    long* local = slot();
    *local = 1;
    QCOMPARE(quintptr(local) % 4096, quintptr(16));
#endif
}

QTEST_GUILESS_MAIN(TestThreadLocalBlocks)
#include "tst_threadlocalblocks.moc"
