// The stamped times on a Russian desktop: the program starts in ru_RU.UTF-8.
#include "stampedtimes.h"

namespace {
const DesktopLanguage g_desktop("ru_RU.UTF-8");
}  // namespace

const DesktopLanguage& Desktop() { return g_desktop; }

QTEST_MAIN(TestStampedTimes)
#include "moc_stampedtimes.cpp"
