#include "qzcfgn.h"

#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace {

std::string DumpOf(const QZbase &obj) {
    std::ostringstream os;
    os << obj;
    return os.str();
}

TEST(QZbase, DumpShowsStampClassErrorAndLines) {
    const std::string stamp = R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d::QZcfgn\n)";
    QZcfgn failed("/nonexistent/dir/x.conf", QZcfgn::ReadOnly);
    EXPECT_TRUE(std::regex_match(
        DumpOf(failed), std::regex(stamp + "Error = 42, source object causing error = QZcfgn\n")));

    QZcfgn loaded(CORE_TEST_DATA "/nul.conf", QZcfgn::ReadOnly);
    EXPECT_TRUE(std::regex_match(DumpOf(loaded),
                                 std::regex(stamp + "Error = 0, source object causing error = "
                                                    "QZcfgn\n  type=S, \\[QZ-nul\\]\n"
                                                    "  type=V, before=ab\n  type=V, after=ok\n"
                                                    "  type=B, \n")));
}

} // namespace
