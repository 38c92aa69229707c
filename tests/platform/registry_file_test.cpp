// The REGEDIT4 parser and writer: a sample file, damaged files (every good
// line must still be read, nothing may crash), and write-then-read round
// trips, including random bytes fed straight to the parser.
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/registry_file.h"

namespace {

// A parsed model, freed at the end of the test.
struct Model {
    Model() { InitRegistryModel(&model); }
    ~Model() { FreeRegistryModel(&model); }
    bool Parse(const std::string &text)
    {
        return ParseRegistryFile(reinterpret_cast<const BYTE *>(text.data()), text.size(), &model);
    }
    std::string Serialise() const
    {
        BYTE *bytes = nullptr;
        size_t size = 0;
        if (!SerialiseRegistryFile(&model, &bytes, &size))
            return "<out of memory>";
        std::string text(reinterpret_cast<char *>(bytes), size);
        free(bytes);
        return text;
    }
    // The value's type and bytes as "type:bytes", or "missing".
    std::string Value(const char *key, const char *name) const
    {
        char path[REGISTRY_PATH_SIZE];
        if (!NormaliseRegistryPath(key, strlen(key), path))
            return "bad path";
        const RegistryKeyRecord *record = FindRegistryKey(&model, path);
        const RegistryValueRecord *value = record ? FindRegistryValue(record, name) : nullptr;
        if (value == nullptr)
            return "missing";
        return std::to_string(value->type) + ":" +
               std::string(reinterpret_cast<const char *>(value->data), value->size);
    }
    RegistryModel model;
};

const char kSample[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic]\r\n"
    "\"CachePath\"=\"C:\\\\cache\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\qvork\\Plugins\\Q\\VORK]\r\n"
    "\"Show_Diskz\"=hex:01\r\n"
    "\"X\"=dword:00000007\r\n"
    "\"Y\"=hex(7):61,00,\\\r\n"
    "  62,00,00\r\n"
    "\"Quote \\\"q\\\"\"=\"a\\\"b\"\r\n"
    "@=\"default\"\r\n";

TEST(RegistryFile, ReadsTheSample)
{
    Model m;
    ASSERT_TRUE(m.Parse(kSample));
    const char *vork = "HKCU\\software\\QVORK\\plugins\\q\\vork"; // names ignore case
    EXPECT_EQ(m.Value("HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic", "cachepath"),
              std::string("1:C:\\cache\0", 11));
    EXPECT_EQ(m.Value(vork, "Show_Diskz"), "3:\x01");
    EXPECT_EQ(m.Value(vork, "X"), std::string("4:\x07\0\0\0", 6));
    EXPECT_EQ(m.Value(vork, "Y"), std::string("7:a\0b\0\0", 7));
    EXPECT_EQ(m.Value(vork, "Quote \"q\""), std::string("1:a\"b\0", 6));
    EXPECT_EQ(m.Value(vork, ""), std::string("1:default\0", 10));
}

TEST(RegistryFile, DamagedLinesAreSkippedAndGoodLinesKept)
{
    const std::string damaged[] = {
        "\"Open=hex:01",                 // unterminated name
        "\"Bad\"=\"unterminated",        // unterminated string
        "\"Bad\"=hex:zz",                // not hex
        "\"Bad\"=hex:01,,02",            // empty byte
        "\"Bad\"=hex:123",               // three digits
        "\"Bad\"=hex(zz):00",            // bad type
        "\"Bad\"=dword:123456789",       // nine digits
        "\"Bad\"=dword:",                // no digits
        "\"Bad\"=\"text\" trailing",     // junk after the string
        "\"Bad\"",                       // no data
        "\"Bad\"=-",                     // a deletion
        "=\"no name\"",                  // no name
        "@x=\"y\"",                      // junk after @
        std::string("\"B\0d\"=\"x\"", 9), // NUL inside a name
        "\x01\x02\xff\xfe garbage \x7f",
        "REGEDIT4",
        "; a comment",
    };
    for (const std::string &line : damaged) {
        std::string text = std::string("REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"Before\"=\"1\"\n") +
                           line + "\n\"After\"=hex:02\n";
        Model m;
        ASSERT_TRUE(m.Parse(text)) << line;
        EXPECT_EQ(m.Value("HKCU\\K", "Before"), std::string("1:1\0", 4)) << line;
        EXPECT_EQ(m.Value("HKCU\\K", "After"), "3:\x02") << line;
        EXPECT_EQ(m.Value("HKCU\\K", "Bad"), "missing") << line;
        EXPECT_EQ(m.model.keys[0].valueCount, 2u) << line;
    }
}

TEST(RegistryFile, ValuesUnderABadKeyLineAreNotFiledElsewhere)
{
    Model m;
    ASSERT_TRUE(m.Parse("[HKEY_CURRENT_USER\\Good]\n\"A\"=\"1\"\n"
                        "[HKEY_CURRENT_USER\\Unterminated\n\"B\"=\"2\"\n"
                        "[-HKEY_CURRENT_USER\\Deleted]\n\"C\"=\"3\"\n"
                        "[HKEY_CURRENT_USER\\Good]\n\"D\"=\"4\"\n"));
    EXPECT_EQ(m.model.keyCount, 1u);
    EXPECT_EQ(m.Value("HKCU\\Good", "B"), "missing");
    EXPECT_EQ(m.Value("HKCU\\Good", "C"), "missing");
    EXPECT_EQ(m.Value("HKCU\\Good", "D"), std::string("1:4\0", 4)) << "same key again: merged";
}

TEST(RegistryFile, KeyPathsAreNormalised)
{
    char path[REGISTRY_PATH_SIZE];
    struct {
        const char *in;
        const char *out; // nullptr: refused
    } cases[] = {
        {"\\HKCU\\Software\\\\Far\\", "HKEY_CURRENT_USER\\Software\\Far"},
        {"hklm\\SOFTWARE", "HKEY_LOCAL_MACHINE\\SOFTWARE"},
        {"HKEY_USERS\\x", "HKEY_USERS\\x"},
        {"\\\\", nullptr},
        {"HKCU\\line\nbreak", nullptr},
    };
    for (const auto &c : cases) {
        BOOL ok = NormaliseRegistryPath(c.in, strlen(c.in), path);
        EXPECT_EQ(ok != 0, c.out != nullptr) << c.in;
        if (ok && c.out) {
            EXPECT_STREQ(path, c.out);
        }
    }
    std::string longName = "HKCU\\" + std::string(REGISTRY_NAME_MAX + 1, 'k');
    EXPECT_FALSE(NormaliseRegistryPath(longName.c_str(), longName.size(), path));
    std::string longPath = "HKCU";
    while (longPath.size() < REGISTRY_PATH_SIZE)
        longPath += "\\" + std::string(200, 'k');
    EXPECT_FALSE(NormaliseRegistryPath(longPath.c_str(), longPath.size(), path));
}

TEST(RegistryFile, OversizedDataIsSkipped)
{
    std::string hexLine;
    for (int i = 0; i < 1000; i++)
        hexLine += "aa,";
    std::string text = "[HKCU\\K]\n\"Huge\"=\"" + std::string(REGISTRY_DATA_MAX + 10, 'x') +
                       "\"\n\"HugeHex\"=hex:";
    for (unsigned i = 0; i < REGISTRY_DATA_MAX / 1000 + 2; i++)
        text += hexLine + "\\\n  ";
    text += "aa\n\"Small\"=hex:05\n";
    Model m;
    ASSERT_TRUE(m.Parse(text));
    EXPECT_EQ(m.Value("HKCU\\K", "Huge"), "missing");
    EXPECT_EQ(m.Value("HKCU\\K", "HugeHex"), "missing");
    EXPECT_EQ(m.Value("HKCU\\K", "Small"), "3:\x05");
}

// Builds a model holding every shape of value the writer must handle.
void FillEveryShape(RegistryKeyRecord *key)
{
    std::vector<BYTE> longBinary(300);
    for (size_t i = 0; i < longBinary.size(); i++)
        longBinary[i] = (BYTE)i;
    const BYTE plain[] = "back\\slash \"quoted\" \xe9";
    const BYTE noTerminator[] = {'a', 'b'};
    const BYTE embeddedNul[] = {'a', 0, 'b', 0};
    const BYTE lineBreak[] = "two\nlines";
    const BYTE number[] = {7, 0, 0, 0x80};
    const BYTE shortNumber[] = {7};
    SetRegistryValue(key, "Plain", REG_SZ, plain, sizeof plain);
    SetRegistryValue(key, "NoTerminator", REG_SZ, noTerminator, sizeof noTerminator);
    SetRegistryValue(key, "EmbeddedNul", REG_SZ, embeddedNul, sizeof embeddedNul);
    SetRegistryValue(key, "LineBreak", REG_SZ, lineBreak, sizeof lineBreak);
    SetRegistryValue(key, "EmptyString", REG_SZ, nullptr, 0);
    SetRegistryValue(key, "Long", REG_BINARY, longBinary.data(), (DWORD)longBinary.size());
    SetRegistryValue(key, "Empty", REG_BINARY, nullptr, 0);
    SetRegistryValue(key, "Number", REG_DWORD, number, sizeof number);
    SetRegistryValue(key, "ShortNumber", REG_DWORD, shortNumber, sizeof shortNumber);
    SetRegistryValue(key, "Multi", REG_MULTI_SZ, embeddedNul, sizeof embeddedNul);
    SetRegistryValue(key, "Odd type", 0x12345678, plain, 3);
    SetRegistryValue(key, "", REG_SZ, plain, sizeof plain);
    SetRegistryValue(key, "@", REG_BINARY, shortNumber, 1);
    SetRegistryValue(key, "\\\"", REG_BINARY, shortNumber, 1);
}

TEST(RegistryFile, WriteThenReadGivesTheSameModel)
{
    Model written;
    FillEveryShape(AddRegistryKey(&written.model, "HKEY_CURRENT_USER\\Software\\x]y"));
    AddRegistryKey(&written.model, "HKEY_LOCAL_MACHINE\\Empty key");
    std::string text = written.Serialise();
    Model read;
    ASSERT_TRUE(read.Parse(text));
    EXPECT_EQ(read.Serialise(), text);
    ASSERT_EQ(read.model.keyCount, 2u);
    const RegistryKeyRecord &a = written.model.keys[0], &b = read.model.keys[0];
    ASSERT_EQ(a.valueCount, b.valueCount);
    for (size_t i = 0; i < a.valueCount; i++) {
        EXPECT_STREQ(a.values[i].name, b.values[i].name);
        EXPECT_EQ(a.values[i].type, b.values[i].type) << a.values[i].name;
        ASSERT_EQ(a.values[i].size, b.values[i].size) << a.values[i].name;
        if (a.values[i].size > 0) {
            EXPECT_EQ(memcmp(a.values[i].data, b.values[i].data, a.values[i].size), 0)
                << a.values[i].name;
        }
    }
    EXPECT_NE(text.find("\"Long\"=hex:00,01,"), std::string::npos);
    EXPECT_NE(text.find(",\\\n  "), std::string::npos) << "long lists are wrapped";
    EXPECT_NE(text.find("\"Number\"=dword:80000007\n"), std::string::npos);
}

TEST(RegistryFile, SetKeepsSpellingAndDeleteRemoves)
{
    Model m;
    RegistryKeyRecord *key = AddRegistryKey(&m.model, "HKEY_CURRENT_USER\\K");
    const BYTE one[] = {1}, two[] = {2};
    ASSERT_TRUE(SetRegistryValue(key, "Show_Diskz", REG_BINARY, one, 1));
    ASSERT_TRUE(SetRegistryValue(key, "SHOW_DISKZ", REG_BINARY, two, 1));
    ASSERT_EQ(key->valueCount, 1u);
    EXPECT_STREQ(key->values[0].name, "Show_Diskz");
    EXPECT_EQ(key->values[0].data[0], 2);
    EXPECT_FALSE(SetRegistryValue(key, "line\nbreak", REG_BINARY, one, 1));
    EXPECT_FALSE(SetRegistryValue(key, "big", REG_BINARY, one, REGISTRY_DATA_MAX + 1));
    EXPECT_TRUE(DeleteRegistryValue(key, "show_diskz"));
    EXPECT_FALSE(DeleteRegistryValue(key, "show_diskz"));
    EXPECT_EQ(key->valueCount, 0u);
}

// Random files built from the format's own tokens and raw bytes: the parser
// must survive them, and what it makes of them must survive a round trip.
TEST(RegistryFile, RandomInputParsesAndRoundTrips)
{
    const char *tokens[] = {"[", "]", "\\", "\"", "=", "@", "hex:", "hex(", "):", "dword:",
                            ",", "0", "a", "ff", "\n", "\r\n", " ", "\\\n", "HKCU", "\0", "-"};
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; round++) {
        std::string text;
        int pieces = random() % 200;
        for (int i = 0; i < pieces; i++) {
            if (random() % 4 == 0)
                text += (char)(random() % 256);
            else
                text += std::string(tokens[random() % (sizeof tokens / sizeof tokens[0])]);
        }
        if (round % 3 == 0)
            text = "[HKCU\\k]\n" + text;
        Model first;
        ASSERT_TRUE(first.Parse(text));
        std::string once = first.Serialise();
        Model second;
        ASSERT_TRUE(second.Parse(once));
        ASSERT_EQ(second.Serialise(), once) << "round " << round;
    }
}

} // namespace
