#include "nodes/service_names.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tessel {
namespace {

TEST(ServiceNamesTest, FirstLineContainingTheKeyWins) {
    test::TempDir dir;
    test::ScopedCwd cwd(dir.path());
    EXPECT_EQ(lookupServiceName(80), "unknown");  // no file

    test::writeFile(dir.file("services.txt"),
                    "# comment naming 22/tcp\n"
                    "http-alt\t8080/tcp\n"
                    "http\t80/tcp\t# web\n"
                    "www\t80/tcp\n"
                    "xx\t18/tcp\n"
                    "ssh 22/tcp no tab\r\n"
                    "domain\t53/udp\n"
                    "smtp\t25/tcp\r\n");
    EXPECT_EQ(lookupServiceName(80), "http-alt");  // substring of 8080/tcp, earlier line
    EXPECT_EQ(lookupServiceName(8080), "http-alt");
    EXPECT_EQ(lookupServiceName(8), "xx");  // 18/tcp; 80/tcp does not contain 8/tcp
    EXPECT_EQ(lookupServiceName(22), "# comment naming 22/tcp");  // no tab: whole line
    EXPECT_EQ(lookupServiceName(53), "unknown");                  // udp only
    EXPECT_EQ(lookupServiceName(25), "smtp");
    EXPECT_EQ(lookupServiceName(443), "unknown");

    test::writeFile(dir.file("services.txt"), "ssh 22/tcp no tab\r\n");
    EXPECT_EQ(lookupServiceName(22), "ssh 22/tcp no tab\r");  // the CR belongs to the line
}

}  // namespace
}  // namespace tessel
