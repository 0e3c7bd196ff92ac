// The stamped times on a German desktop: the program starts in de_DE.UTF-8.
#include "stampedtimes.h"

namespace {
const DesktopLanguage g_desktop("de_DE.UTF-8");
}  // namespace

const DesktopLanguage& Desktop() { return g_desktop; }

QTEST_MAIN(TestStampedTimes)
#include "moc_stampedtimes.cpp"
