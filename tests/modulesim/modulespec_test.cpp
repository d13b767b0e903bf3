#include "tools/modulesim/modulespec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <unistd.h>

namespace modulesim {
namespace {

TEST(ModuleSpec, ReadsEveryKey)
{
    std::string error;
    const auto module = parseModuleSpec(
        "mac=00-30-11-00-00-07, protocol=1.9, fb=PROFINET IO, version=3.2.1, ip=10.1.2.3, sn=255.255.0.0, "
        "gw=10.1.0.1, dhcp=ON, hn=line-7, dns1=10.1.0.2, dns2=10.1.0.3, password=secret",
        error);
    ASSERT_TRUE(module.has_value()) << error;
    EXPECT_EQ(module->scanReply(),
        "protocol version = 1.9;fb type = PROFINET IO;module version = 3.2.1;mac = 00-30-11-00-00-07;"
        "ip = 10.1.2.3;sn = 255.255.0.0;gw = 10.1.0.1;dhcp = on;pswd = on;hn = line-7;dns1 = 10.1.0.2;"
        "dns2 = 10.1.0.3;");
    EXPECT_EQ(module->password(), "secret");
}

TEST(ModuleSpec, MinusLeavesAFieldOut)
{
    std::string error;
    const auto module = parseModuleSpec("-hn,mac=00-30-11-00-00-07,-dns1,-dns2", error);
    ASSERT_TRUE(module.has_value()) << error;
    EXPECT_FALSE(module->reports(ModuleField::HostName));
    EXPECT_FALSE(module->reports(ModuleField::Dns1));
    EXPECT_TRUE(module->reports(ModuleField::Ip));
    EXPECT_EQ(module->scanReply().find("hn = "), std::string::npos);
}

TEST(ModuleSpec, RefusesBadSpecsWithAReason)
{
    struct Bad {
        const char* spec;
        const char* reason;
    };
    for (const Bad& bad : {Bad{"", "needs mac"}, Bad{"ip=1.2.3.4", "needs mac"}, Bad{"mac=00-30-11", "bad MAC"},
             Bad{"mac=00-30-11-00-00-01,ip=1.2.3", "bad value for ip"},
             Bad{"mac=00-30-11-00-00-01,dhcp=yes", "bad value for dhcp"},
             Bad{"mac=00-30-11-00-00-01,colour=red", "unknown key"},
             Bad{"mac=00-30-11-00-00-01,-colour", "unknown field"},
             Bad{"mac=00-30-11-00-00-01,hn=a;b", "bad value for hn"},
             Bad{"mac=00-30-11-00-00-01,justaword", "expected key=value"}}) {
        std::string error;
        EXPECT_FALSE(parseModuleSpec(bad.spec, error).has_value()) << bad.spec;
        EXPECT_NE(error.find(bad.reason), std::string::npos) << bad.spec << " -> " << error;
    }
}

TEST(ModuleFile, SkipsCommentsAndNamesTheFailingLine)
{
    char path[] = "/tmp/modulesim-spec-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream file(path);
        file << "# two modules\n\nmac=00-30-11-00-00-01,ip=10.0.0.1\n   # indented comment\nmac=00-30-11-00-00-02\n";
    }
    std::string error;
    const auto modules = readModuleFile(path, error);
    ASSERT_TRUE(modules.has_value()) << error;
    ASSERT_EQ(modules->size(), 2u);
    EXPECT_EQ(modules->at(0).field(ModuleField::Ip), "10.0.0.1");

    {
        std::ofstream file(path, std::ios::app);
        file << "mac=broken\n";
    }
    EXPECT_FALSE(readModuleFile(path, error).has_value());
    EXPECT_NE(error.find(std::string(path) + ":6:"), std::string::npos) << error;
    std::remove(path);

    EXPECT_FALSE(readModuleFile("/nonexistent/modules.txt", error).has_value());
}

TEST(GeneratedModules, HaveDistinctMacsAndAddresses)
{
    const auto modules = generateModules(1000);
    ASSERT_EQ(modules.size(), 1000u);
    std::set<std::string> macs;
    std::set<std::string> addresses;
    for (const auto& module : modules) {
        macs.insert(module.mac().toString());
        addresses.insert(module.field(ModuleField::Ip));
        EXPECT_EQ(module.mac().toString().substr(0, 8), "00-30-11");
        EXPECT_TRUE(normaliseDottedQuad(module.field(ModuleField::Ip)).has_value());
    }
    EXPECT_EQ(macs.size(), 1000u);
    EXPECT_EQ(addresses.size(), 1000u);
    EXPECT_EQ(modules.front().mac().toString(), "00-30-11-00-00-01");
    EXPECT_EQ(modules.back().mac().toString(), "00-30-11-00-03-E8");
    EXPECT_TRUE(generateModules(0).empty());
}

} // namespace
} // namespace modulesim
