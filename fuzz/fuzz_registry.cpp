// The Linux registry file parser, fed the fuzzed bytes as a REGEDIT4 file.
// The model it yields must keep the invariants registry_file.h states, and
// serialising it unchanged must give back the input byte for byte (unless
// empty: a new file). Then one
// edit (chosen by the input's last bytes: a value changed, deleted or added,
// or a new key) is saved and parsed again: the model read back must be the
// edited one, and the saved text must be the input with the edited value's
// lines taken out and one run of new text put in, so every untouched line
// comes back byte for byte.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

#include "platform/linux/registry_file.h"

namespace {

void Check(bool condition, const char *what)
{
    if (condition)
        return;
    fprintf(stderr, "qvork fuzz: check failed: %s\n", what);
    abort();
}

int FoldCase(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

std::string Folded(const char *text)
{
    std::string folded(text);
    for (char &c : folded)
        c = (char)FoldCase((unsigned char)c);
    return folded;
}

void CheckInvariants(const RegistryModel &model)
{
    Check(model.keyCount <= REGISTRY_KEYS_MAX, "at most REGISTRY_KEYS_MAX keys");
    Check(model.keyCount <= model.keyCapacity, "key count within capacity");
    std::set<std::string> paths;
    for (size_t k = 0; k < model.keyCount; k++) {
        const RegistryKeyRecord &key = model.keys[k];
        Check(key.path != NULL, "key path set");
        size_t length = strlen(key.path);
        Check(length < REGISTRY_PATH_SIZE, "key path fits");
        char normal[REGISTRY_PATH_SIZE];
        Check(NormaliseRegistryPath(key.path, length, normal) == TRUE, "key path is valid");
        Check(strcmp(normal, key.path) == 0, "key path is in its normal form");
        Check(paths.insert(Folded(key.path)).second, "no two keys share a path");
        Check(key.valueCount <= REGISTRY_VALUES_MAX, "at most REGISTRY_VALUES_MAX values");
        Check(key.valueCount <= key.valueCapacity, "value count within capacity");
        std::set<std::string> names;
        for (size_t v = 0; v < key.valueCount; v++) {
            const RegistryValueRecord &value = key.values[v];
            Check(value.name != NULL && IsValidValueName(value.name) == TRUE, "value name valid");
            Check(value.size <= REGISTRY_DATA_MAX, "value data within its cap");
            Check((value.size == 0) == (value.data == NULL), "data present exactly when sized");
            Check(names.insert(Folded(value.name)).second, "no two values of a key share a name");
        }
    }
}

// The same keys in the same order, each with the same values: in the same
// order too, or with `byName`, found by name (a changed value may come back
// elsewhere in its key).
bool SameModel(const RegistryModel &a, const RegistryModel &b, bool byName = false)
{
    if (a.keyCount != b.keyCount)
        return false;
    for (size_t k = 0; k < a.keyCount; k++) {
        const RegistryKeyRecord &x = a.keys[k], &y = b.keys[k];
        if (strcmp(x.path, y.path) != 0 || x.valueCount != y.valueCount)
            return false;
        for (size_t v = 0; v < x.valueCount; v++) {
            const RegistryValueRecord &p = x.values[v];
            const RegistryValueRecord *q = byName ? FindRegistryValue(&y, p.name) : &y.values[v];
            if (q == NULL || strcmp(p.name, q->name) != 0 || p.type != q->type ||
                p.size != q->size || (p.size != 0 && memcmp(p.data, q->data, p.size) != 0))
                return false;
        }
    }
    return true;
}

std::string Serialise(const RegistryModel &model)
{
    BYTE *bytes = NULL;
    size_t size = 0;
    Check(SerialiseRegistryFile(&model, &bytes, &size) == TRUE, "serialise");
    std::string text((const char *)bytes, size);
    free(bytes);
    return text;
}

// Applies one edit chosen by `choice` to `model`: a value set to short or
// long binary or text data, or deleted, in a key of the model or a new one.
// `kept` becomes the source without the lines of the value edited. FALSE
// when the model refused the edit (a cap reached, nothing to delete).
bool Edit(RegistryModel &model, unsigned choice, std::string &kept)
{
    kept.assign((const char *)model.source, model.sourceSize);
    size_t k = model.keyCount == 0 ? 0 : (choice >> 3) % (model.keyCount + 1);
    RegistryKeyRecord *key = k < model.keyCount
                                 ? &model.keys[k]
                                 : AddRegistryKey(&model, "HKEY_CURRENT_USER\\Fuzz edit");
    if (key == NULL)
        return false;
    k = (size_t)(key - model.keys);
    std::string name = key->valueCount == 0 || (choice & 4) != 0
                           ? "Fuzz edit"
                           : key->values[(choice >> 8) % key->valueCount].name;
    const RegistryValueRecord *value = FindRegistryValue(key, name.c_str());
    const size_t id = value != NULL ? value->id : REGISTRY_NO_SOURCE;
    bool done;
    if ((choice & 3) == 1) {
        done = DeleteRegistryValue(key, name.c_str()) == TRUE;
    } else {
        std::string data = (choice & 3) == 0 ? std::string(choice % 300, (char)choice) // wraps
                           : (choice & 3) == 2 ? std::string("edited", 7)
                                               : std::string(200, 'e') + '\0';
        done = SetRegistryValue(key, name.c_str(), (choice & 3) == 0 ? REG_BINARY : REG_SZ,
                                (const BYTE *)data.data(), (DWORD)data.size()) == TRUE;
        value = FindRegistryValue(key, name.c_str());
        if (value != NULL && !value->changed)
            return done; // the same data again: nothing to rewrite
    }
    for (size_t l = model.lineCount; done && id != REGISTRY_NO_SOURCE && l-- > 0;)
        if (model.lines[l].key == k && model.lines[l].valueId == id) // from the end: offsets hold
            kept.erase(model.lines[l].start, model.lines[l].end - model.lines[l].start);
    return done;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RegistryModel first;
    InitRegistryModel(&first);
    Check(ParseRegistryFile(data, size, &first) == TRUE, "parse (memory is plentiful here)");
    CheckInvariants(first);
    std::string text = Serialise(first);

    RegistryModel second;
    InitRegistryModel(&second);
    Check(ParseRegistryFile((const BYTE *)text.data(), text.size(), &second) == TRUE, "re-parse");
    CheckInvariants(second);
    Check(SameModel(first, second), "serialising and parsing again gives the same model");
    Check(Serialise(second) == text, "the text of the re-read model is the same");

    Check(size == 0 || text == std::string((const char *)data, size),
          "an unchanged model saves the input (no input: a new file)");
    std::string kept;
    unsigned choice = size >= 2 ? data[size - 1] | (unsigned)data[size - 2] << 8 : 0;
    if (Edit(first, choice, kept)) {
        CheckInvariants(first);
        std::string saved = Serialise(first);
        size_t prefix = 0, suffix = 0;
        while (prefix < kept.size() && prefix < saved.size() && kept[prefix] == saved[prefix])
            prefix++;
        while (suffix < kept.size() - prefix && suffix < saved.size() - prefix &&
               kept[kept.size() - 1 - suffix] == saved[saved.size() - 1 - suffix])
            suffix++;
        Check(prefix + suffix == kept.size(), "every untouched line is saved byte for byte");
        RegistryModel third;
        InitRegistryModel(&third);
        Check(ParseRegistryFile((const BYTE *)saved.data(), saved.size(), &third) == TRUE,
              "parse the edited text");
        Check(SameModel(first, third, true), "the edited text reads back as the edited model");
        Check(Serialise(third) == saved, "the edited text saves unchanged");
        FreeRegistryModel(&third);
    }

    // Each key path is found again, and so is each value by its name (the
    // first few: lookups are linear, and the parser has already made them).
    for (size_t k = 0; k < first.keyCount && k < 64; k++) {
        const RegistryKeyRecord *key = FindRegistryKey(&first, first.keys[k].path);
        Check(key == &first.keys[k], "FindRegistryKey finds each key");
        Check(RegistryKeyExists(&first, key->path) == TRUE, "each key exists");
        for (size_t v = 0; v < key->valueCount && v < 64; v++)
            Check(FindRegistryValue(key, key->values[v].name) == &key->values[v],
                  "FindRegistryValue finds each value");
    }
    FreeRegistryModel(&second);
    FreeRegistryModel(&first);
    return 0;
}
