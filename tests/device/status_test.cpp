// Status and journal texts, checked against the UTF-8 originals through the
// C library's own Windows-1251 conversion.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "device/DeviceProtocol.h"

namespace {

std::string FromCp1251(const char* text)
{
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string in(text);
    std::string out(in.size() * 4 + 1, '\0');
    char* src = in.data();
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    EXPECT_NE(iconv(cd, &src, &srcLeft, &dst, &dstLeft), static_cast<size_t>(-1));
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

TEST(StatusText, CodesByLowByte)
{
    const struct {
        uint32_t code;
        const char* text;
    } cases[] = {
        {0, ""},
        {1, "Елемент не знайдено"},
        {4, "Недостатньо пам'яті"},
        {7, "Файл інсує"},
        {23, "Невірний пароль доступу"},
        {24, "Пристрій занятий"},
        {30, "Сторінка ПЗП не є чистою"},
        {37, "Записи журналу реєтрації закінчилися"},
        {40, "Пошкоджено запит"},
        {43, "Низький заряд батареї"},
        {99, "Операція не підтримується"},
        {100, "Невідома помилка"},
        {10, "Невідома помилка"},
        {38, "Невідома помилка"},
        {255, "Невідома помилка"},
        {256, ""},
        {256 + 27, "Ключ не може бути експортований"},
    };
    for (const auto& c : cases) EXPECT_EQ(FromCp1251(StatusText(c.code)), c.text) << c.code;
}

TEST(StatusText, EveryNamedCodeHasItsOwnText)
{
    const uint32_t named[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  20, 21, 22, 23, 24, 25,
                              26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 40, 43, 99};
    const std::string unknown = StatusText(100);
    for (uint32_t code : named) EXPECT_NE(StatusText(code), unknown) << code;
}

TEST(JournalText, OperationsAndDetails)
{
    EXPECT_EQ(FromCp1251(JournalOperationName(1)), "Зміна пароля доступу");
    EXPECT_EQ(FromCp1251(JournalOperationName(5)), "Форматування");
    EXPECT_EQ(FromCp1251(JournalOperationName(9)), "Пристрій заблоковано");
    EXPECT_EQ(FromCp1251(JournalOperationName(256 + 3)), "Генерація ключів");
    for (uint32_t op : {0u, 6u, 10u}) EXPECT_EQ(FromCp1251(JournalOperationName(op)), "Невідома операція");

    EXPECT_EQ(FromCp1251(JournalDetailName(3, 2)), "Ключ ПРК (протоколу розподілу)");
    EXPECT_EQ(FromCp1251(JournalDetailName(2, 0x10001)), "Ключ ЕЦП (підпису)");
    EXPECT_EQ(FromCp1251(JournalDetailName(4, 3)), "Ключ шифрування");
    EXPECT_EQ(FromCp1251(JournalDetailName(5, 1)), "Ініційовано користувачем");
    EXPECT_EQ(FromCp1251(JournalDetailName(5, 2)), "Ініційовано пристроєм");
    EXPECT_STREQ(JournalDetailName(5, 3), "");
    EXPECT_STREQ(JournalDetailName(1, 1), "");
    EXPECT_STREQ(JournalDetailName(2, 4), "");
}

}  // namespace
