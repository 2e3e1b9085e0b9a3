// The PKCS#11 module carries the PKI formats facade (it links the class and
// never constructs it) and still exports exactly the PKCS#11 names.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace {

std::string ReadFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(FacadeInModule, TheModuleCarriesTheFacade)
{
    std::string image = ReadFile(QVK_PKCS11_MODULE);
    ASSERT_FALSE(image.empty());
    // The facade's type name, which its virtual table brings along.
    EXPECT_NE(image.find("11SPKIFormats"), std::string::npos);
    EXPECT_NE(image.find("12ISPKIFormats"), std::string::npos);
}

TEST(FacadeInModule, OnlyThePkcs11NamesAreExported)
{
    std::string command = std::string("nm -D --defined-only ") + QVK_PKCS11_MODULE;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        std::size_t space = s.rfind(' ');
        if (space != std::string::npos) names.insert(s.substr(space + 1));
    }
    ASSERT_EQ(pclose(pipe), 0);
    std::size_t functions = 0;
    for (const std::string& name : names) {
        if (name.rfind("C_", 0) == 0) {
            ++functions;
            continue;
        }
        EXPECT_EQ(name, "DllMain") << name << " leaves the module";
    }
    EXPECT_EQ(functions, 68u);
}
