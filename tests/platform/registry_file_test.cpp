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

// Past the first few, names are looked up through a hash: a later line
// setting a name in another case, and values that move up when one before
// them is deleted, must still be found.
TEST(RegistryFile, ManyKeysAndValuesStayFoundAcrossCaseAndDeletions)
{
    std::string text = "REGEDIT4\n";
    for (int k = 0; k < 300; k++)
        text += "[HKEY_CURRENT_USER\\K" + std::to_string(k) + "]\n\"v\"=\"" + std::to_string(k) + "\"\n";
    text += "[HKEY_CURRENT_USER\\Many]\n";
    for (int v = 0; v < 300; v++)
        text += "\"N" + std::to_string(v) + "\"=\"" + std::to_string(v) + "\"\n";
    text += "[hkey_current_user\\k7]\n\"V\"=\"again\"\n\"n5\"=\"late\"\n";
    Model m;
    ASSERT_TRUE(m.Parse(text));
    EXPECT_EQ(m.model.keyCount, 301u);
    EXPECT_EQ(m.Value("HKCU\\K299", "v"), std::string("1:299\0", 6));
    EXPECT_EQ(m.Value("HKCU\\K7", "v"), std::string("1:again\0", 8));
    EXPECT_EQ(m.Value("HKCU\\K7", "N5"), std::string("1:late\0", 7));
    RegistryKeyRecord *many = FindRegistryKey(&m.model, "HKEY_CURRENT_USER\\Many");
    ASSERT_NE(many, nullptr);
    EXPECT_TRUE(DeleteRegistryValue(many, "n10"));
    EXPECT_EQ(m.Value("HKCU\\Many", "N10"), "missing");
    EXPECT_EQ(m.Value("HKCU\\Many", "N11"), std::string("1:11\0", 5));
    EXPECT_EQ(m.Value("HKCU\\Many", "N299"), std::string("1:299\0", 6));
    EXPECT_EQ(many->valueCount, 299u);
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
                        // found by fuzzing: once normalised this read as "[-..."
                        "[\\-HKEY_CURRENT_USER\\Deleted]\n\"C\"=\"3\"\n"
                        "[HKEY_CURRENT_USER\\Good]\n\"D\"=\"4\"\n"));
    EXPECT_EQ(m.model.keyCount, 1u);
    EXPECT_EQ(m.Value("HKCU\\Good", "B"), "missing");
    EXPECT_EQ(m.Value("HKCU\\Good", "C"), "missing");
    EXPECT_EQ(m.Value("HKCU\\Good", "D"), std::string("1:4\0", 4)) << "same key again: merged";
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

// Every shape of value the writer must handle, written and read back.
TEST(RegistryFile, WriteThenReadGivesTheSameModel)
{
    std::string counting(300, '\0');
    for (size_t i = 0; i < counting.size(); i++)
        counting[i] = (char)i;
    const struct {
        const char *name;
        DWORD type;
        std::string data;
    } values[] = {
        {"Plain", REG_SZ, std::string("back\\slash \"quoted\" \xe9", 22)},
        {"Path\\Like", REG_SZ, std::string("x", 2)},
        {"NoTerminator", REG_SZ, "ab"},
        {"EmbeddedNul", REG_SZ, std::string("a\0b", 4)},
        {"LineBreak", REG_SZ, std::string("two\nlines", 10)},
        {"EmptyString", REG_SZ, ""},
        {"Long", REG_BINARY, counting},
        {"Empty", REG_BINARY, ""},
        {"Number", REG_DWORD, std::string("\x07\0\0\x80", 4)},
        {"ShortNumber", REG_DWORD, "\x07"},
        {"Odd type", 0x12345678, "abc"},
        {"", REG_SZ, std::string("default", 8)},
        {"@", REG_BINARY, "\x01"},
        {"\\\"", REG_BINARY, "\x02"},
    };
    const char *path = "HKEY_CURRENT_USER\\Software\\x]y"; // a "]" inside a key name
    Model written;
    RegistryKeyRecord *key = AddRegistryKey(&written.model, path);
    for (const auto &v : values)
        ASSERT_TRUE(SetRegistryValue(key, v.name, v.type, (const BYTE *)v.data.data(),
                                     (DWORD)v.data.size()));
    AddRegistryKey(&written.model, "HKEY_LOCAL_MACHINE\\Empty key");
    std::string text = written.Serialise();
    Model read;
    ASSERT_TRUE(read.Parse(text));
    EXPECT_EQ(read.Serialise(), text);
    EXPECT_EQ(read.model.keyCount, 2u);
    for (const auto &v : values)
        EXPECT_EQ(read.Value(path, v.name), std::to_string(v.type) + ":" + v.data) << v.name;
    EXPECT_NE(text.find(",\\\n  "), std::string::npos) << "long lists are wrapped";
    EXPECT_NE(text.find("\"Number\"=dword:80000007\n"), std::string::npos);
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
