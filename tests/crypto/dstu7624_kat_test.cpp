// Known answers: the examples published with DSTU 7624:2014 (ECB for all five
// variants and the annex examples of the modes).
#include <gtest/gtest.h>

#include "dstu7624_test_util.h"

using namespace dstu7624test;

namespace {

struct BlockCase {
    uint32_t blockBits;
    Bytes key, input, expected;
};

TEST(Dstu7624Kat, EcbAllVariants)
{
    const BlockCase cases[] = {
        {128, Seq(0, 16), Seq(0x10, 16), Hex("81BF1C7D779BAC20E1C9EA39B4D2AD06")},
        {128, Seq(0, 32), Seq(0x20, 16), Hex("58EC3E091000158A1148F7166F334F14")},
        {256, Seq(0, 32), Seq(0x20, 32), Hex("F66E3D570EC92135AEDAE323DCBD2A8CA03963EC206A0D5A88385C24617FD92C")},
        {256, Seq(0, 64), Seq(0x40, 32), Hex("606990E9E6B7B67A4BD6D893D72268B78E02C83C3CD7E102FD2E74A8FDFE5DD9")},
        {512, Seq(0, 64), Seq(0x40, 64),
         Hex("4A26E31B811C356AA61DD6CA0596231A67BA8354AA47F3A13E1DEEC320EB56B895D0F417175BAB662FD6F134BB15C86C"
             "CB906A26856EFEB7C5BC6472940DD9D9")},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.blockBits << "/" << tc.key.size() * 8);
        auto c = Keyed(tc.blockBits, tc.key);
        ASSERT_TRUE(c);
        Bytes data = tc.input;
        ASSERT_EQ(1, DSTU7624EncryptECB(data.data(), 1, c.get()));
        EXPECT_EQ(data, tc.expected);
        ASSERT_EQ(1, DSTU7624DecryptECB(data.data(), 1, c.get()));
        EXPECT_EQ(data, tc.input);
    }
}

struct IvCase {
    const char* name;
    uint32_t blockBits;
    Bytes key, iv, plain, cipher;
};

TEST(Dstu7624Kat, Cbc)
{
    const IvCase cases[] = {
        {"128/128", 128, Seq(0, 16), Seq(0x10, 16), Seq(0x20, 48),
         Hex("A73625D7BE994E85469A9FAABCEDAAB6DBC5F65DD77BB35E06BD7D1D8EAFC8624D6CB31CE189C82B8979F2936DE9BF14")},
        // The standard's decryption example: this ciphertext is the encryption of 88F2...22.
        {"128/128 falling", 128, Seq(0x0F, 16, -1), Seq(0x1F, 16, -1),
         Hex("88F2F048BA696170E3818915E0DBC0AFA6F141FEBC2F817138DA4AAB2DBF9CE490A488C9C82AC83FB0A6C0EEB64CFD22"),
         Seq(0x4F, 48, -1)},
        {"128/256 falling", 128, Seq(0x1F, 32, -1), Seq(0x2F, 16, -1),
         Hex("BC8F026FC603ECE05C24FDE87542730999B381870882AC0535D4368C4BABD81B884E96E853EE7E055262D9D204FBE212"),
         Seq(0x5F, 48, -1)},
        {"256/512 falling", 256, Seq(0x3F, 64, -1), Seq(0x5F, 32, -1),
         Hex("C69A59E10D00F087319B62288A57417C074EAD07C732A87055F0A5AD2BB288105705C45E091A9A6726E9672DC7D8C76F"
             "C45C782BCFEF7C39D94DEB84B17035BC8651255A0D34373451B6E1A2C827DB97566C9FF5506C5579F982A0EFC5BA7C28"),
         Seq(0xBF, 96, -1)},
        {"512/512 falling", 512, Seq(0x3F, 64, -1), Seq(0x7F, 64, -1),
         Hex("5D5B3E3DE5BAA70E0A0684D458856CE759C6018D0B3F087FC1DAC101D380236DD934F2880B02D56A575BCA35A0CE4B0D"
             "9BA1F4A39C16CA7D80D59956630F09E54EC91E32B6830FE08323ED393F8028D150BF03CAD0629A5AFEEFF6E442579806"
             "18DB2F32B7B2B65B96E8451F1090829D2FFFC615CC1581E9221438DCEAD1FD12"),
         Seq(0xFF, 128, -1)},
        {"256/256", 256, Seq(0, 32), Seq(0x20, 32), Seq(0x40, 96),
         Hex("9CDFDAA75929E7C2A5CFC1BF16B42C5AE3886D0258E8C577DC01DAF62D185FB999B9867736B87110F5F1BC7481912C59"
             "3F48FF79E2AFDFAB9F704A277EC3E557B1B0A9F223DAE6ED5AF591C4F2D6FB22E48334F5E9B96B1A2EA5200F30A406CE")},
        {"256/512", 256, Seq(0, 64), Seq(0x40, 32), Seq(0x60, 96),
         Hex("B8A2474578C2FEBF3F94703587BD5FDC3F4A4D2F43575B6144A1E1031FB3D1452B7FD52F5E3411461DAC506869FF8D2F"
             "AEF4FEE60379AE00B33AA3EAF911645AF8091CD8A45D141D1FB150E5A01C1F26FF3DBD26AC4225EC7577B2CE57A5B0FF")},
        {"512/512", 512, Seq(0, 64), Seq(0x40, 64), Seq(0x80, 128),
         Hex("D4739B829EF901B24C1162AE4FDEF897EDA41FAC7F5770CDC90E1D1CDF124E8D7831E06B4498A4B6F6EC815DF2461DC9"
             "9BB0449B0F09FCAA2C84090534BCC9329626FD74EF8F0A0BCB5765184629C3CBF53B0FB134F6D0421174B1C4E884D1CD"
             "1069A7AD19752DCEBF655842E79B7858BDE01390A760D85E88925BFE38B0FA57")},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto c = Keyed(tc.blockBits, tc.key);
        ASSERT_TRUE(c);
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tc.iv.data(), DSTU7624_IV));
        Bytes data = tc.plain;
        const uint64_t bits = data.size() * 8;
        ASSERT_EQ(1, DSTU7624EncryptCBC(data.data(), Lo(bits), 0, Lo(bits), 0, c.get()));
        EXPECT_EQ(data, tc.cipher);
        CryptoBitLength result{};
        ASSERT_EQ(1, DSTU7624DecryptCBC(data.data(), Lo(bits), 0, 0, &result, c.get()));
        EXPECT_EQ(data, tc.plain);
        EXPECT_EQ(CryptoLoadBitLength(&result), bits);
    }
}

TEST(Dstu7624Kat, CbcPaddedMessage)
{
    // 46 bytes on a 128-bit block: the example carries the bit padding (80 00).
    auto c = Keyed(128, Seq(0, 32));
    ASSERT_TRUE(c);
    const Bytes iv = Seq(0x20, 16);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    Bytes data = Seq(0x30, 46);
    data.resize(48, 0xEE);
    ASSERT_EQ(1, DSTU7624EncryptCBC(data.data(), 368, 0, 384, 0, c.get()));
    EXPECT_EQ(data,
              Hex("13EA15843AD14C50BC03ECEF1F43E398E4217752D3EB046AC393DACC5CA1D6FA0EB9FCEB229362B4F1565527EE3D8433"));
    CryptoBitLength result{};
    ASSERT_EQ(1, DSTU7624DecryptCBC(data.data(), 384, 0, 1, &result, c.get()));
    EXPECT_EQ(CryptoLoadBitLength(&result), 368u);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 46), Seq(0x30, 46));
}

TEST(Dstu7624Kat, StreamModes)
{
    enum Mode { Ctr, Ofb, Cfb128 };
    struct Case {
        const char* name;
        Mode mode;
        IvCase v;
    };
    const Case cases[] = {
        {"CTR 128/128",
         Ctr,
         {"", 128, Seq(0, 16), Seq(0x10, 16), Seq(0x20, 41),
          Hex("A90A6B9780ABDFDFF64D14F5439E88F266DC50EDD341528DD5E698E2F000CE21F872DAF9FE1811844A")}},
        {"CTR 128/128 two blocks",
         Ctr,
         {"", 128, Seq(0, 16), Seq(0x10, 16), Seq(0x30, 32),
          Hex("B91A7B8790BBCFCFE65D04E5538E98E216AC209DA33122FDA596E8928070BE51")}},
        {"CFB 128/128",
         Cfb128,
         {"", 128, Seq(0, 16), Seq(0x10, 16), Seq(0x20, 48),
          Hex("A19E3E5E53BE8A07C9E0C01298FF83291F8EE6212110BE3FA5C72C88A082520B265570FE28680719D9B4465E169BC37A")}},
        {"OFB 128/128",
         Ofb,
         {"", 128, Seq(0, 16), Seq(0x10, 16), Seq(0x20, 48),
          Hex("A19E3E5E53BE8A07C9E0C01298FF832953205C661BD85A51F3A94113BC785CAB634B36E89A8FDD16A12E4467F5CC5A26")}},
        {"OFB 128/128 falling",
         Ofb,
         {"", 128, Seq(0x0F, 16, -1), Seq(0x1F, 16, -1), Seq(0x4F, 48, -1),
          Hex("649A1EAAE160AF20F5B3EF2F58D66C1178B82E00D26F30689C8EC22E8E86E9CBB0BD4FFEE39EB13C2311276A906DD636")}},
        {"OFB 256/256 falling",
         Ofb,
         {"", 256, Seq(0x1F, 32, -1), Seq(0x3F, 32, -1), Seq(0x9F, 81, -1),
          Hex("7758A939DD6BD00CAF9153E5A5D5A66129105CA1EA54A97C06FA4A40960A068F55E34F9339A14436216948F92FA2FB52"
              "86D3AB1E81543FC0018A0C4E8C493475F4D35DCFB0A7A5377F6669B857CDC978E4")}},
        {"OFB 256/512 falling",
         Ofb,
         {"", 256, Seq(0x3F, 64, -1), Seq(0x5F, 32, -1), Seq(0xBF, 81, -1),
          Hex("98E122708FDABB1B1A5765C396DC79D7573221EC486ADDABD1770B147A6DD00B5FBC4F1EC68C59775B7AAA4D43C4CCE4"
              "F396D982DF64D30B03EF6C3B997BA0ED940BBC590BD30D64B5AE207147D71086B5")}},
        {"OFB 512/512 falling",
         Ofb,
         {"", 512, Seq(0x3F, 64, -1), Seq(0x7F, 64, -1), Seq(0xEF, 97, -1),
          Hex("06C061A4A66DFC0910034B3CFBDC4206D8908241C56BF41C4103CFD6DF322210B87F57EAE9F9AD815E606A7D1E8E6BD7"
              "CB1EBFBDBCB085C2D06BF3CC1586CB2EE1D81D38437F425131321647E42F5DE309D33F25B89DE37124683E4B44824FC56D")}},
        {"OFB 128/256 falling",
         Ofb,
         {"", 128, Seq(0x1F, 32, -1), Seq(0x2F, 16, -1), Seq(0x5F, 41, -1),
          Hex("1A66CFBFEC00C6D52E39923E858DD64B214AB787798D3D5059A6B498AD66B34EAC48C4074BEC0D98C6")}},
        {"OFB 256/256",
         Ofb,
         {"", 256, Seq(0, 32), Seq(0x20, 32), Seq(0x40, 81),
          Hex("B62F7F144A8C6772E693A96890F064C3F06831BF743F5B0DD061067F3D22877331AA6A99D939F05B7550E9402BD1615C"
              "C7B2D4A167E83EC0D8A894F92C72E176F3880B61C311D69CE1210C59184E818E19")}},
        {"OFB 256/512",
         Ofb,
         {"", 256, Seq(0, 64), Seq(0x40, 32), Seq(0x60, 81),
          Hex("0008F28A82D2D01D23BFB2F8BB4F06D8FE73BA4F48A2977585570ED3818323A668883C9DCFF610CC7E3EA5C025FBBC5C"
              "A6520F8F11CA35CEB9B07031E6DBFABE39001E9A3CC0A24BBC565939592B4DEDBD")}},
        {"OFB 512/512",
         Ofb,
         {"", 512, Seq(0, 64), Seq(0x40, 64), Seq(0x80, 97),
          Hex("CAA761980599B3ED2E945C41891BAD95F72B11C73ED26536A6847458BC76C827357156B4B3FE0DC1877F5B9F17B866C3"
              "7B21D89531DB48007D05DEC928B06766C014BB9080385EDF0677E48A0A39B5E7489E28E82FFFD1F84694F17296CB701656")}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto c = Keyed(tc.v.blockBits, tc.v.key);
        ASSERT_TRUE(c);
        for (int direction = 0; direction < 2; ++direction) {
            ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tc.v.iv.data(), DSTU7624_IV));
            Bytes data = direction == 0 ? tc.v.plain : tc.v.cipher;
            const uint32_t bits = static_cast<uint32_t>(data.size() * 8);
            int ok = 0;
            switch (tc.mode) {
            case Ctr:
                ok = direction == 0 ? DSTU7624EncryptCTR(data.data(), bits, 0, c.get())
                                    : DSTU7624DecryptCTR(data.data(), bits, 0, c.get());
                break;
            case Ofb:
                ok = direction == 0 ? DSTU7624EncryptOFB(data.data(), bits, 0, c.get())
                                    : DSTU7624DecryptOFB(data.data(), bits, 0, c.get());
                break;
            case Cfb128:
                ok = direction == 0 ? DSTU7624EncryptCFB(data.data(), bits, 0, 128, c.get())
                                    : DSTU7624DecryptCFB(data.data(), bits, 0, 128, c.get());
                break;
            }
            ASSERT_EQ(1, ok);
            EXPECT_EQ(data, direction == 0 ? tc.v.cipher : tc.v.plain);
        }
    }
}

TEST(Dstu7624Kat, Cmac)
{
    struct Case {
        uint32_t blockBits;
        Bytes key, data, mac;
    };
    const Case cases[] = {
        {128, Seq(0, 16), Seq(0x20, 48), Hex("123B4EAB8E63ECF3E645A99C1115E241")},
        // 94 bytes: the last block is partial, so it is padded and takes E(01 00 ...).
        {128, Seq(0, 32), Seq(0x30, 94), Hex("4CF52D7D5B0C47F05F6F5F5E73C3B508")},
        {512, Seq(0, 64), Seq(0x40, 128), Hex("7279FA6BC8EF7525B2B35260D00A1743")},
    };
    for (const auto& tc : cases) {
        auto c = Keyed(tc.blockBits, tc.key);
        ASSERT_TRUE(c);
        ASSERT_EQ(1, DSTU7624ComputeCMAC(tc.data.data(), static_cast<uint32_t>(tc.data.size() * 8), 0, c.get()));
        EXPECT_EQ(GetMac(c.get(), 128), tc.mac);
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tc.mac.data(), DSTU7624_MAC));
        EXPECT_EQ(1, DSTU7624VerifyCMAC(tc.data.data(), static_cast<uint32_t>(tc.data.size() * 8), 0, c.get()));
    }
}

TEST(Dstu7624Kat, KeyWrap)
{
    struct Case {
        const char* name;
        uint32_t blockBits;
        Bytes key;
        Bytes data;
        uint32_t bits;
        Bytes wrapped;
    };
    // The 144- and 314-bit examples show the prepared message (LEN bit-packed
    // after the key, then the padding bit) in the standard.
    Bytes key314 = Seq(0x20, 40);
    key314[39] = 0x40;
    const Case cases[] = {
        {"128/128, 128 bits", 128, Seq(0, 16), Seq(0x10, 16), 128,
         Hex("1DC91DC6E52575F6DBED25ADDA95A1B6AD3E15056E489738972C199FB9EE2913")},
        {"128/128, 144 bits", 128, Seq(0, 16), Seq(0x10, 18), 144,
         Hex("0EA983D6CE48484D51462C32CC61672210FCC44196ABE635BAF878FDB83E1A63114128585D49DB355C5819FD38039169")},
        {"128/256, 384 bits", 128, Seq(0, 32), Seq(0x20, 48), 384,
         Hex("2D09A7C18E6A5A0816331EC27CEA596903F77EC8D63F3BDB73299DE7FD9F4558E05992B0B24B39E02EA496368E0841CC"
             "1E3FA44556A3048C5A6E9E335717D17D")},
        {"128/256, 314 bits", 128, Seq(0, 32), key314, 314,
         Hex("37E3EECB91150C6FA04CFD19D6FC57B7168C9FA5C5ED18601C68EE4AFD7301F8C8C51D7A0A5CD34F6FAB0D8AF11845CC"
             "1E4B16E0489FDA1D76BA4EFCFD161F76")},
        {"256/256, 768 bits", 256, Seq(0, 32), Seq(0x20, 96), 768,
         Hex("BE59D3C3C31B2685A8FA57CD000727F16AF303F0D87BC2D7ABD80DC2796BBC4CDBC4E0408943AF4DAF7DE9084DC81BFE"
             "F15FDCDD0DF399983DF69BF730D7AE2A199CA4F878E4723B7171DD4D1E8DF59C0F25FA0C20946BA64F9037D724BB1D50"
             "B6C2BD9788B2AF83EF6163087CD2D4488BC19F3A858D813E3A8947A529B6D65D")},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto c = Keyed(tc.blockBits, tc.key);
        ASSERT_TRUE(c);
        Bytes data = tc.data;
        data.resize(tc.wrapped.size(), 0xEE);
        const uint32_t wrappedBits = static_cast<uint32_t>(tc.wrapped.size() * 8);
        ASSERT_EQ(1, DSTU7624WrapKey(data.data(), tc.bits, 0, wrappedBits, 0, c.get()));
        EXPECT_EQ(data, tc.wrapped);
        CryptoBitLength result{};
        const int padded = tc.bits % tc.blockBits != 0;
        ASSERT_EQ(1, DSTU7624UnwrapKey(data.data(), wrappedBits, 0, padded, &result, c.get()));
        EXPECT_EQ(CryptoLoadBitLength(&result), tc.bits);
        EXPECT_EQ(Bytes(data.begin(), data.begin() + tc.data.size()), tc.data);
    }
}

TEST(Dstu7624Kat, Xts)
{
    const IvCase cases[] = {
        {"128/128", 128, Seq(0, 16), Seq(0x10, 16), Seq(0x20, 32),
         Hex("B3E431B3FBAF31108C302669EE7116D1CF518B6D329D30618DF5628E426BDEF1")},
        {"128/256", 128, Seq(0, 32), Seq(0x20, 16), Seq(0x30, 32),
         Hex("830AC78A6F629CB4C7D5D156FD84955BD0998CA1E0BC1FF135676BF2A2598FA1")},
        {"256/256", 256, Seq(0, 32), Seq(0x20, 32), Seq(0x40, 96),
         Hex("E0E51EAEA6A3134600758EA7F87E88025D8B82897C8DB099B843054C3A51883756913571530BA8FA23003E337627E698"
             "674B807E847EC6B2292627736562F9F62B2DE9E6AAC5DF74C09A0C5CF80280174AEC9BDD4E73F7D63EDBC29A6922637A")},
        {"256/512", 256, Seq(0, 64), Seq(0x40, 32), Seq(0x60, 96),
         Hex("30663E4686574B343A1898E46973CD37DB9D775D356512EB59E723397F2A333CE2C0E96538781FF48EA1D93BDF88FFF8"
             "BB7BC4FB80A609881220C7FE21881C7374F65B232A8F94CD0E3DDC7614830C23CFCE98ADC5113496F9E106E8C8BFF3AB")},
        {"512/512", 512, Seq(0, 64), Seq(0x40, 64), Seq(0x80, 128),
         Hex("5C6250BD2E40AAE27E1E57512CD38E6A51D0C2B04F0D6A50E0CB43358B8C4E8BA361331436C6FFD38D77BBBBF5FEC56A"
             "234108A6CC8CB298360943E849E5BD64D26ECA2FA8AEAD070656C3777BA412BCAF3D2F08C26CF86CA8F0921043A15D70"
             "9AE1112611E22D4396E582CCB661E0F778B6F38561BC338AFD5D1036ED8B322D")},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto c = Keyed(tc.blockBits, tc.key);
        ASSERT_TRUE(c);
        Bytes data = tc.plain;
        const uint32_t bits = static_cast<uint32_t>(data.size() * 8);
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tc.iv.data(), DSTU7624_IV));
        ASSERT_EQ(1, DSTU7624EncryptXTS(data.data(), bits, 0, c.get()));
        EXPECT_EQ(data, tc.cipher);
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tc.iv.data(), DSTU7624_IV));
        ASSERT_EQ(1, DSTU7624DecryptXTS(data.data(), bits, 0, c.get()));
        EXPECT_EQ(data, tc.plain);
    }
}

TEST(Dstu7624Kat, Gcm)
{
    struct Case {
        const char* name;
        uint32_t blockBits;
        Bytes key, iv, ad, plain, cipher, mac;
    };
    const Bytes cipher256 =
        Hex("7EC15C54BB553CB1437BE0EFDD2E810F6058497EBCE4408A08A73FADF3F459D56B0103702D13AB73ACD2EB33A8B5E9CF"
            "FF5EB21865A6B499C10C810C4BAEBE80");
    const Case cases[] = {
        {"128/128", 128, Seq(0, 16), Seq(0x10, 16), Seq(0x20, 16), Seq(0x30, 32),
         Hex("B91A7B8790BBCFCFE65D04E5538E98E216AC209DA33122FDA596E8928070BE51"),
         Hex("C8310571CD60F9584B45C1B4ECE179AF")},
        {"128/256", 128, Seq(0, 32), Seq(0x20, 16), Seq(0x30, 16), Seq(0x50, 32),
         Hex("FF83F27C6D4EA26101B1986235831406A297940D6C0E695596D612623E0E7CDC"),
         Hex("3C474281AFEAE4FD6D61E995258747AB")},
        {"256/256, 128-bit tag", 256, Seq(0, 32), Seq(0x20, 32), Seq(0x40, 32), Seq(0x60, 64), cipher256,
         Hex("1D61B0A3018F6B849CBA20AF1DDDA245")},
        {"256/256, 256-bit tag", 256, Seq(0, 32), Seq(0x20, 32), Seq(0x40, 32), Seq(0x60, 64), cipher256,
         Hex("1D61B0A3018F6B849CBA20AF1DDDA245B1B296258AC0352A52D3F372E72224CE")},
        {"256/512", 256, Seq(0, 64), Seq(0x40, 32), Seq(0x60, 32), Seq(0x80, 64),
         Hex("3EBDB4584B5169A26FBEBA0295B4223F58D5D8A031F2950A1D7764FAB97BA058E9E2DAB90FF0C519AA88435155A71B7B"
             "53BB100F5D20AFFAC0552F5F2813DEE8"),
         Hex("8555FD3D9B02C2325ACA3CC9309D6B4B9AFC697D13BBBFF067198D5D86CB9820")},
        {"512/512", 512, Seq(0, 64), Seq(0x40, 64), Seq(0x80, 64), Seq(0xC0, 64),
         Hex("220642D7277D104788CF97B10210984F506435512F7BF153C5CDABFECC10AFB4A2E2FC51F616AF80FFDD0607FAD4F542"
             "B8EF0667717CE3EAAA8FBC303CE76C99"),
         Hex("78A77E5948F5DC05F551486FDBB44898C9AB1BD439D7519841AE31007C09E1B312E5EA5929F952F6A3EEF5CBEAEF262B"
             "8EC1884DFCF4BAAF7B5C9291A22489E1")},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto c = Keyed(tc.blockBits, tc.key);
        ASSERT_TRUE(c);
        Bytes data = tc.plain;
        const uint32_t bits = static_cast<uint32_t>(data.size() * 8);
        const uint32_t adBits = static_cast<uint32_t>(tc.ad.size() * 8);
        const uint32_t macBits = static_cast<uint32_t>(tc.mac.size() * 8);
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tc.iv.data(), DSTU7624_IV));
        ASSERT_EQ(1, DSTU7624EncryptGCM(data.data(), bits, 0, tc.ad.data(), adBits, 0, c.get()));
        EXPECT_EQ(data, tc.cipher);
        EXPECT_EQ(GetMac(c.get(), macBits), tc.mac);
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tc.iv.data(), DSTU7624_IV));
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tc.mac.data(), DSTU7624_MAC));
        ASSERT_EQ(1, DSTU7624DecryptGCM(data.data(), bits, 0, tc.ad.data(), adBits, 0, c.get()));
        EXPECT_EQ(data, tc.plain);
    }
}

TEST(Dstu7624Kat, Gmac)
{
    struct Case {
        const char* name;
        uint32_t blockBits;
        Bytes key, data, mac;
    };
    const Case cases[] = {
        {"128/256", 128, Seq(0, 32), Seq(0x30, 16), Hex("5AE309EE80B583C6523397ADCB5704C4")},
        {"256/256, 128-bit tag", 256, Seq(0, 32), Seq(0x40, 32), Hex("FF48B56F2C26CC484B8F5952D7B3E1FE")},
        {"256/256", 256, Seq(0, 32), Seq(0x40, 32),
         Hex("FF48B56F2C26CC484B8F5952D7B3E1FE69577701C50BE96517B33921E44634CD")},
        {"256/512", 256, Seq(0, 64), Seq(0x60, 32),
         Hex("96F61FA0FDE92883C5041D748F9AE91F3A0A50415BFA1466855340A5714DC01F")},
        {"512/512", 512, Seq(0, 64), Seq(0x80, 64),
         Hex("897C32E05E776FD988C5171FE70BB72949172E514E3308A871BA5BD898FB6EBD6E3897D2D55697D90D6428216C08052E"
             "3A5E7D4626F4DBBF1546CE21637357A3")},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto c = Keyed(tc.blockBits, tc.key);
        ASSERT_TRUE(c);
        const uint32_t bits = static_cast<uint32_t>(tc.data.size() * 8);
        const uint32_t macBits = static_cast<uint32_t>(tc.mac.size() * 8);
        ASSERT_EQ(1, DSTU7624ComputeGMAC(tc.data.data(), bits, 0, c.get()));
        EXPECT_EQ(GetMac(c.get(), macBits), tc.mac);
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tc.mac.data(), DSTU7624_MAC));
        EXPECT_EQ(1, DSTU7624VerifyGMAC(tc.data.data(), bits, 0, c.get()));
    }
}

TEST(Dstu7624Kat, Ccm)
{
    struct Case {
        const char* name;
        uint32_t blockBits;
        Bytes key, nonce, ad, plain;
        uint32_t width;
        Bytes mac, output;
    };
    const Case cases[] = {
        {"128/128", 128, Seq(0, 16), Seq(0x10, 16), Seq(0x20, 16), Seq(0x30, 16), 4,
         Hex("26A936173A4DC9160D6E3FDA3A974060"),
         Hex("B91A7B8790BBCFCFE65D04E5538E98E2704454C9DD39ADACE0B19D03F6AAB07E")},
        {"256/256", 256, Seq(0, 32), Seq(0x20, 32), Seq(0x40, 32), Seq(0x60, 64), 4,
         Hex("9AB831B4B0BF0FDBC36E4B4FD58F0F00"),
         Hex("7EC15C54BB553CB1437BE0EFDD2E810F6058497EBCE4408A08A73FADF3F459D56B0103702D13AB73ACD2EB33A8B5E9CF"
             "FF5EB21865A6B499C10C810C4BAEBE809C48AD90A9E12A68380EF1C1B7C83EE1")},
        {"256/512", 256, Seq(0, 64), Seq(0x40, 32), Seq(0x60, 32), Seq(0x80, 64), 6,
         Hex("924FA0326824355595C98028E84D86279CEA9135FAB35F22054AE3203E68AE46"),
         Hex("3EBDB4584B5169A26FBEBA0295B4223F58D5D8A031F2950A1D7764FAB97BA058E9E2DAB90FF0C519AA88435155A71B7B"
             "53BB100F5D20AFFAC0552F5F2813DEE8DD3653491737B9615A5CCD83DB32F1E479BF227C050325BBBFF60BCA9558D7FE")},
        {"512/512", 512, Seq(0, 64), Seq(0x40, 64), Seq(0x80, 64), Seq(0xC0, 64), 8,
         Hex("D4155EC3D888C8D32FE184AC260FD60F567705E1DF362A6F1F9C287156AA96D91BC4C56F9709E72F3D79CF0A9AC8BDC2"
             "BA836BE50E823AB50FB1B39080390923"),
         Hex("220642D7277D104788CF97B10210984F506435512F7BF153C5CDABFECC10AFB4A2E2FC51F616AF80FFDD0607FAD4F542"
             "B8EF0667717CE3EAAA8FBC303CE76C99BD8F80CE149143C04FC2490272A31B029DDADA82F055FE4ABEF452A7D438B21E"
             "59C1D8B3DD4606BAD66A6F36300EF3CE0E5F3BB59F11416E80B7FC5A8E8B057A")},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto c = Keyed(tc.blockBits, tc.key);
        ASSERT_TRUE(c);
        const uint32_t macBits = static_cast<uint32_t>(tc.mac.size() * 8);
        Bytes data = tc.plain;
        data.resize(tc.output.size());
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tc.nonce.data(), DSTU7624_IV));
        ASSERT_EQ(1, Set32(c.get(), macBits, DSTU7624_MAC_BITS));
        ASSERT_EQ(1, DSTU7624EncryptCCM(data.data(), static_cast<uint32_t>(tc.plain.size()),
                                        static_cast<uint32_t>(data.size()), tc.ad.data(),
                                        static_cast<uint32_t>(tc.ad.size()), tc.width, c.get()));
        EXPECT_EQ(data, tc.output);
        EXPECT_EQ(GetMac(c.get(), macBits), tc.mac);
        ASSERT_EQ(1, DSTU7624SetParameter(c.get(), tc.nonce.data(), DSTU7624_IV));
        ASSERT_EQ(1, DSTU7624DecryptCCM(data.data(), static_cast<uint32_t>(data.size()), tc.ad.data(),
                                        static_cast<uint32_t>(tc.ad.size()), tc.width, c.get()));
        EXPECT_EQ(Bytes(data.begin(), data.begin() + tc.plain.size()), tc.plain);
    }
}

}  // namespace
