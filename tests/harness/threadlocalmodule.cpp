// A library with a block of thread-local storage of its own, loaded at run time: the block is
// taken from the heap the first time a thread touches it.
thread_local long t_slot = 0;

extern "C" long* ThreadLocalSlot()
{
    return &t_slot;
}
