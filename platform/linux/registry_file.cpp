// REGEDIT4 text to and from the in-memory registry model; see
// registry_file.h. The parser reads line by line and never looks past the
// buffer it was given; the writer copies the source text and emits only
// lines the parser reads back to the same model.
#include "platform/linux/registry_file.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// --- Growing byte buffers -----------------------------------------------------

typedef struct ByteBuffer {
    BYTE *data;      // owned, malloc'd; NULL while empty
    size_t size;     // bytes in use
    size_t capacity; // bytes allocated
} ByteBuffer;

static void FreeByteBuffer(ByteBuffer *buffer)
{
    free(buffer->data);
    buffer->data = NULL;
    buffer->size = buffer->capacity = 0;
}

static BOOL ReserveBytes(ByteBuffer *buffer, size_t extra)
{
    if (extra > (size_t)-1 / 2 - buffer->size)
        return FALSE;
    size_t needed = buffer->size + extra;
    if (needed <= buffer->capacity)
        return TRUE;
    size_t capacity = buffer->capacity < 64 ? 64 : buffer->capacity;
    while (capacity < needed)
        capacity *= 2;
    BYTE *data = (BYTE *)realloc(buffer->data, capacity);
    if (data == NULL)
        return FALSE;
    buffer->data = data;
    buffer->capacity = capacity;
    return TRUE;
}

static BOOL AppendBytes(ByteBuffer *buffer, const void *bytes, size_t count)
{
    if (count == 0)
        return TRUE;
    if (!ReserveBytes(buffer, count))
        return FALSE;
    memcpy(buffer->data + buffer->size, bytes, count);
    buffer->size += count;
    return TRUE;
}

static BOOL AppendText(ByteBuffer *buffer, const char *text)
{
    return AppendBytes(buffer, text, strlen(text));
}

// --- Names ----------------------------------------------------------------------

static int FoldCase(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

static BOOL NamesEqual(const char *a, const char *b)
{
    for (; *a != '\0' && *b != '\0'; a++, b++)
        if (FoldCase((unsigned char)*a) != FoldCase((unsigned char)*b))
            return FALSE;
    return *a == *b ? TRUE : FALSE;
}

// FNV-1a over the name in one letter case, as NamesEqual compares.
static size_t NameHash(const char *name)
{
    size_t hash = (size_t)2166136261u;
    for (; *name != '\0'; name++)
        hash = (hash ^ (size_t)FoldCase((unsigned char)*name)) * (size_t)16777619u;
    return hash;
}

static void FreeNameIndex(RegistryNameIndex *index)
{
    free(index->slots);
    index->slots = NULL;
    index->mask = 0;
}

static void PutInIndex(RegistryNameIndex *index, const char *name, size_t position)
{
    size_t i = NameHash(name) & index->mask;
    while (index->slots[i] != 0)
        i = (i + 1) & index->mask;
    index->slots[i] = position + 1;
}

// Makes `index` anew for the `count` names `nameAt` gives, with room for as
// many more; without memory it is left without slots.
static void RebuildNameIndex(RegistryNameIndex *index, size_t count,
                             const char *(*nameAt)(const void *items, size_t position),
                             const void *items)
{
    FreeNameIndex(index);
    size_t size = 64;
    while (size < count * 4)
        size *= 2;
    index->slots = (size_t *)calloc(size, sizeof *index->slots);
    if (index->slots == NULL)
        return;
    index->mask = size - 1;
    for (size_t position = 0; position < count; position++)
        PutInIndex(index, nameAt(items, position), position);
}

// Notes the last of `count` names in `index`, made anew when it fills.
static void IndexLastName(RegistryNameIndex *index, size_t count,
                          const char *(*nameAt)(const void *items, size_t position),
                          const void *items)
{
    if (index->slots == NULL || count * 2 > index->mask + 1)
        RebuildNameIndex(index, count, nameAt, items);
    else
        PutInIndex(index, nameAt(items, count - 1), count - 1);
}

static const char *KeyPathAt(const void *keys, size_t position)
{
    return ((const RegistryKeyRecord *)keys)[position].path;
}

static const char *ValueNameAt(const void *values, size_t position)
{
    return ((const RegistryValueRecord *)values)[position].name;
}

#define NAME_NOT_FOUND ((size_t)-1)

// The position of `name` among the `count` names `nameAt` gives, through
// `index` when it has slots; NAME_NOT_FOUND when none is that name.
static size_t FindName(const RegistryNameIndex *index, const char *name,
                       const char *(*nameAt)(const void *items, size_t position), const void *items,
                       size_t count)
{
    if (index->slots != NULL) {
        for (size_t i = NameHash(name) & index->mask; index->slots[i] != 0; i = (i + 1) & index->mask)
            if (NamesEqual(nameAt(items, index->slots[i] - 1), name))
                return index->slots[i] - 1;
        return NAME_NOT_FOUND;
    }
    for (size_t position = 0; position < count; position++)
        if (NamesEqual(nameAt(items, position), name))
            return position;
    return NAME_NOT_FOUND;
}

static BOOL IsLineBreakOrNul(char c)
{
    return c == '\r' || c == '\n' || c == '\0';
}

BOOL IsValidValueName(const char *name)
{
    if (name == NULL)
        return FALSE;
    size_t length = strlen(name);
    if (length > REGISTRY_VALUE_NAME_MAX)
        return FALSE;
    return strpbrk(name, "\r\n") == NULL ? TRUE : FALSE;
}

static char *CopyText(const char *text)
{
    size_t length = strlen(text);
    char *copy = (char *)malloc(length + 1);
    if (copy != NULL)
        memcpy(copy, text, length + 1);
    return copy;
}

// TRUE when the `length` bytes at `name` spell `text`, ASCII case ignored.
static BOOL SpanEquals(const char *name, size_t length, const char *text)
{
    if (strlen(text) != length)
        return FALSE;
    for (size_t i = 0; i < length; i++)
        if (FoldCase((unsigned char)name[i]) != FoldCase((unsigned char)text[i]))
            return FALSE;
    return TRUE;
}

// Appends one key name to the path being built in `out` (`*used` bytes); the
// first name is the root, whose short forms are spelt out.
static BOOL AppendPathComponent(const char *name, size_t length, char *out, size_t *used)
{
    const char *root = NULL;
    if (*used == 0 && SpanEquals(name, length, "HKCU"))
        root = "HKEY_CURRENT_USER";
    else if (*used == 0 && SpanEquals(name, length, "HKLM"))
        root = "HKEY_LOCAL_MACHINE";
    if (root != NULL) {
        name = root;
        length = strlen(root);
    }
    if (length > REGISTRY_NAME_MAX || (*used == 0 && name[0] == '-'))
        return FALSE; // "[-" opens a deletion line, so no root may start so
    for (size_t i = 0; i < length; i++)
        if (IsLineBreakOrNul(name[i]))
            return FALSE;
    size_t separator = *used > 0 ? 1 : 0;
    if (length + separator >= REGISTRY_PATH_SIZE - *used)
        return FALSE;
    if (separator)
        out[(*used)++] = '\\';
    memcpy(out + *used, name, length);
    *used += length;
    out[*used] = '\0';
    return TRUE;
}

BOOL NormaliseRegistryPath(const char *path, size_t length, char *out)
{
    size_t used = 0;
    out[0] = '\0';
    size_t start = 0;
    for (size_t i = 0; i <= length; i++) {
        if (i < length && path[i] != '\\')
            continue;
        if (i > start && !AppendPathComponent(path + start, i - start, out, &used)) {
            out[0] = '\0';
            return FALSE;
        }
        start = i + 1;
    }
    return used > 0 ? TRUE : FALSE;
}

// --- The model ------------------------------------------------------------------

// Room for one more element in the malloc'd array *array of *capacity
// elements, `count` in use: doubled when full, `first` elements at first.
static BOOL GrowArray(void **array, size_t *capacity, size_t count, size_t first, size_t size)
{
    if (count < *capacity)
        return TRUE;
    size_t larger = *capacity == 0 ? first : *capacity * 2;
    void *grown = realloc(*array, larger * size);
    if (grown == NULL)
        return FALSE;
    *array = grown;
    *capacity = larger;
    return TRUE;
}

void InitRegistryModel(RegistryModel *model)
{
    model->keys = NULL;
    model->keyIndex.slots = NULL;
    model->keyIndex.mask = 0;
    model->keyCount = model->keyCapacity = 0;
    model->source = NULL;
    model->sourceSize = 0;
    model->lines = NULL;
    model->lineCount = model->lineCapacity = 0;
}

static void FreeValue(RegistryValueRecord *value)
{
    free(value->name);
    free(value->data);
}

void FreeRegistryModel(RegistryModel *model)
{
    for (size_t k = 0; k < model->keyCount; k++) {
        RegistryKeyRecord *key = &model->keys[k];
        for (size_t v = 0; v < key->valueCount; v++)
            FreeValue(&key->values[v]);
        free(key->values);
        free(key->path);
        FreeNameIndex(&key->valueIndex);
    }
    free(model->keys);
    FreeNameIndex(&model->keyIndex);
    free(model->source);
    free(model->lines);
    InitRegistryModel(model);
}

RegistryKeyRecord *FindRegistryKey(const RegistryModel *model, const char *path)
{
    size_t position = FindName(&model->keyIndex, path, KeyPathAt, model->keys, model->keyCount);
    return position != NAME_NOT_FOUND ? &model->keys[position] : NULL;
}

BOOL RegistryKeyExists(const RegistryModel *model, const char *path)
{
    size_t length = strlen(path);
    for (size_t k = 0; k < model->keyCount; k++) {
        const char *keyPath = model->keys[k].path;
        if (strlen(keyPath) < length)
            continue;
        BOOL prefix = TRUE;
        for (size_t i = 0; i < length && prefix; i++)
            prefix = FoldCase((unsigned char)keyPath[i]) == FoldCase((unsigned char)path[i]);
        if (prefix && (keyPath[length] == '\0' || keyPath[length] == '\\'))
            return TRUE;
    }
    return FALSE;
}

RegistryKeyRecord *AddRegistryKey(RegistryModel *model, const char *path)
{
    RegistryKeyRecord *key = FindRegistryKey(model, path);
    if (key != NULL)
        return key;
    if (model->keyCount >= REGISTRY_KEYS_MAX)
        return NULL;
    if (!GrowArray((void **)&model->keys, &model->keyCapacity, model->keyCount, 16,
                   sizeof *model->keys))
        return NULL;
    char *copy = CopyText(path);
    if (copy == NULL)
        return NULL;
    key = &model->keys[model->keyCount++];
    key->path = copy;
    key->values = NULL;
    key->valueCount = key->valueCapacity = 0;
    key->nextValueId = 0;
    key->valueIndex.slots = NULL;
    key->valueIndex.mask = 0;
    key->anchor = REGISTRY_NO_SOURCE;
    IndexLastName(&model->keyIndex, model->keyCount, KeyPathAt, model->keys);
    return key;
}

RegistryValueRecord *FindRegistryValue(const RegistryKeyRecord *key, const char *name)
{
    size_t position = FindName(&key->valueIndex, name, ValueNameAt, key->values, key->valueCount);
    return position != NAME_NOT_FOUND ? &key->values[position] : NULL;
}

// A fresh value record at the end of `key`, name copied, no data, not from
// the source; NULL when the key is full or memory ran out.
static RegistryValueRecord *AppendValue(RegistryKeyRecord *key, const char *name)
{
    if (key->valueCount >= REGISTRY_VALUES_MAX)
        return NULL;
    if (!GrowArray((void **)&key->values, &key->valueCapacity, key->valueCount, 8,
                   sizeof *key->values))
        return NULL;
    char *copy = CopyText(name);
    if (copy == NULL)
        return NULL;
    RegistryValueRecord *value = &key->values[key->valueCount++];
    value->name = copy;
    value->type = REG_NONE;
    value->data = NULL;
    value->size = 0;
    value->id = key->nextValueId++;
    value->line = REGISTRY_NO_SOURCE;
    value->changed = TRUE;
    IndexLastName(&key->valueIndex, key->valueCount, ValueNameAt, key->values);
    return value;
}

BOOL SetRegistryValue(RegistryKeyRecord *key, const char *name, DWORD type, const BYTE *data,
                      DWORD size)
{
    if (!IsValidValueName(name) || size > REGISTRY_DATA_MAX || (data == NULL && size > 0))
        return FALSE;
    RegistryValueRecord *value = FindRegistryValue(key, name);
    if (value != NULL && value->type == type && value->size == size &&
        (size == 0 || memcmp(value->data, data, size) == 0))
        return TRUE; // the same again: its line stays as it is
    BYTE *copy = NULL;
    if (size > 0) {
        copy = (BYTE *)malloc(size);
        if (copy == NULL)
            return FALSE;
        memcpy(copy, data, size);
    }
    if (value == NULL)
        value = AppendValue(key, name);
    if (value == NULL) {
        free(copy);
        return FALSE;
    }
    free(value->data);
    value->type = type;
    value->data = copy;
    value->size = size;
    value->changed = TRUE;
    return TRUE;
}

BOOL DeleteRegistryValue(RegistryKeyRecord *key, const char *name)
{
    RegistryValueRecord *value = FindRegistryValue(key, name);
    if (value == NULL)
        return FALSE;
    size_t index = (size_t)(value - key->values);
    FreeValue(value);
    memmove(&key->values[index], &key->values[index + 1],
            (key->valueCount - index - 1) * sizeof *value);
    key->valueCount--;
    // The values after it moved up one place.
    RebuildNameIndex(&key->valueIndex, key->valueCount, ValueNameAt, key->values);
    return TRUE;
}

// --- Parsing ----------------------------------------------------------------------

// A run of bytes of the file: one line, without its line break.
typedef struct TextSpan {
    const BYTE *text;
    size_t length;
} TextSpan;

typedef struct LineReader {
    const BYTE *bytes; // the whole file
    size_t size;
    size_t position;   // start of the next line
} LineReader;

// The next line, leading blanks and trailing CR removed; FALSE at the end.
static BOOL NextLine(LineReader *reader, TextSpan *line)
{
    if (reader->position >= reader->size)
        return FALSE;
    const BYTE *start = reader->bytes + reader->position;
    size_t left = reader->size - reader->position;
    const BYTE *newline = (const BYTE *)memchr(start, '\n', left);
    size_t length = newline != NULL ? (size_t)(newline - start) : left;
    reader->position += newline != NULL ? length + 1 : length;
    while (length > 0 && (*start == ' ' || *start == '\t')) {
        start++;
        length--;
    }
    if (length > 0 && start[length - 1] == '\r')
        length--;
    line->text = start;
    line->length = length;
    return TRUE;
}

static BOOL IsBlank(BYTE c)
{
    return c == ' ' || c == '\t';
}

static size_t SkipBlanks(const TextSpan *line, size_t i)
{
    while (i < line->length && IsBlank(line->text[i]))
        i++;
    return i;
}

static int HexDigitValue(BYTE c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

typedef enum ParseResult {
    PARSE_OK,
    PARSE_MALFORMED, // the line is skipped
    PARSE_NO_MEMORY, // the parse stops
} ParseResult;

// Reads the quoted text starting at `*i` (the opening quote) into `out`,
// undoing the \\ and \" escapes; `*i` ends past the closing quote. Text
// longer than `limit` bytes, or without its closing quote, is malformed.
static ParseResult ReadQuoted(const TextSpan *line, size_t *i, ByteBuffer *out, size_t limit)
{
    size_t at = *i + 1;
    while (at < line->length) {
        BYTE c = line->text[at];
        if (c == '"') {
            *i = at + 1;
            return PARSE_OK;
        }
        if (c == '\\' && at + 1 < line->length &&
            (line->text[at + 1] == '\\' || line->text[at + 1] == '"')) {
            c = line->text[at + 1];
            at++;
        }
        at++;
        if (out->size >= limit)
            return PARSE_MALFORMED;
        if (!AppendBytes(out, &c, 1))
            return PARSE_NO_MEMORY;
    }
    return PARSE_MALFORMED;
}

// TRUE when the rest of the line from `i` is blank.
static BOOL RestIsBlank(const TextSpan *line, size_t i)
{
    return SkipBlanks(line, i) == line->length ? TRUE : FALSE;
}

// TRUE when the line continues at `i` with `word` (ASCII case ignored);
// `*i` then ends past it.
static BOOL TakeWord(const TextSpan *line, size_t *i, const char *word)
{
    size_t length = strlen(word);
    if (line->length - *i < length)
        return FALSE;
    for (size_t k = 0; k < length; k++)
        if (FoldCase(line->text[*i + k]) != FoldCase((unsigned char)word[k]))
            return FALSE;
    *i += length;
    return TRUE;
}

// Reads "dword:XXXXXXXX" data (one to eight hex digits) from `i`.
static ParseResult ReadDword(const TextSpan *line, size_t i, ByteBuffer *out)
{
    DWORD number = 0;
    int digits = 0;
    for (; i < line->length && HexDigitValue(line->text[i]) >= 0; i++) {
        if (++digits > 8)
            return PARSE_MALFORMED;
        number = (number << 4) | (DWORD)HexDigitValue(line->text[i]);
    }
    if (digits == 0 || !RestIsBlank(line, i))
        return PARSE_MALFORMED;
    BYTE bytes[4] = {(BYTE)(number & 0xFF), (BYTE)((number >> 8) & 0xFF),
                     (BYTE)((number >> 16) & 0xFF), (BYTE)((number >> 24) & 0xFF)};
    return AppendBytes(out, bytes, sizeof bytes) ? PARSE_OK : PARSE_NO_MEMORY;
}

// Reads the "hex(N):" type number from `*i` (just past "hex(").
static BOOL ReadHexType(const TextSpan *line, size_t *i, DWORD *type)
{
    DWORD number = 0;
    int digits = 0;
    for (; *i < line->length && HexDigitValue(line->text[*i]) >= 0; (*i)++) {
        if (++digits > 8)
            return FALSE;
        number = (number << 4) | (DWORD)HexDigitValue(line->text[*i]);
    }
    if (digits == 0 || !TakeWord(line, i, "):"))
        return FALSE;
    *type = number;
    return TRUE;
}

// Reads a comma-separated list of hex bytes from `i`; a "\" ending a line
// carries the list on to the next line of `reader`. The continuation lines
// are consumed even when the list turns out malformed.
static ParseResult ReadHexList(LineReader *reader, TextSpan line, size_t i, ByteBuffer *out)
{
    BOOL expectByte = TRUE;
    BOOL malformed = FALSE;
    for (;;) {
        i = SkipBlanks(&line, i);
        if (i >= line.length)
            return malformed ? PARSE_MALFORMED : PARSE_OK;
        BYTE c = line.text[i];
        if (c == '\\' && RestIsBlank(&line, i + 1)) {
            if (!NextLine(reader, &line))
                return malformed ? PARSE_MALFORMED : PARSE_OK;
            i = 0;
            expectByte = TRUE; // "01,\" and "01\" both carry on
        } else if (!malformed && c == ',' && !expectByte) {
            expectByte = TRUE;
            i++;
        } else if (!malformed && expectByte && HexDigitValue(c) >= 0) {
            int value = HexDigitValue(c);
            i++;
            if (i < line.length && HexDigitValue(line.text[i]) >= 0)
                value = value * 16 + HexDigitValue(line.text[i++]);
            if (out->size >= REGISTRY_DATA_MAX) {
                malformed = TRUE;
                continue;
            }
            BYTE byte = (BYTE)value;
            if (!AppendBytes(out, &byte, 1))
                return PARSE_NO_MEMORY;
            expectByte = FALSE;
        } else {
            malformed = TRUE; // keep going only to find the continuation
            i++;
        }
    }
}

// Reads the data after "=" at `i` into `out` and its type into `type`.
static ParseResult ReadValueData(LineReader *reader, const TextSpan *line, size_t i, DWORD *type,
                                 ByteBuffer *out)
{
    if (i < line->length && line->text[i] == '"') {
        ParseResult result = ReadQuoted(line, &i, out, REGISTRY_DATA_MAX - 1);
        if (result != PARSE_OK)
            return result;
        if (!RestIsBlank(line, i))
            return PARSE_MALFORMED;
        *type = REG_SZ;
        return AppendBytes(out, "", 1) ? PARSE_OK : PARSE_NO_MEMORY;
    }
    if (TakeWord(line, &i, "dword:")) {
        *type = REG_DWORD;
        return ReadDword(line, i, out);
    }
    if (TakeWord(line, &i, "hex:")) {
        *type = REG_BINARY;
        return ReadHexList(reader, *line, i, out);
    }
    if (TakeWord(line, &i, "hex(")) {
        if (!ReadHexType(line, &i, type))
            return PARSE_MALFORMED;
        return ReadHexList(reader, *line, i, out);
    }
    return PARSE_MALFORMED; // including "-", a deletion, which a saved file never holds
}

// Room for one more source line.
static BOOL ReserveSourceLine(RegistryModel *model)
{
    return GrowArray((void **)&model->lines, &model->lineCapacity, model->lineCount, 64,
                     sizeof *model->lines);
}

// Reads one value line ("name"=data or @=data, starting at `lineStart` of
// the source) into the key `keyIndex`.
static ParseResult ReadValueLine(LineReader *reader, const TextSpan *line, RegistryModel *model,
                                 size_t keyIndex, size_t lineStart)
{
    ByteBuffer name = {NULL, 0, 0};
    ByteBuffer data = {NULL, 0, 0};
    DWORD type = REG_NONE;
    size_t i = 0;
    ParseResult result = PARSE_OK;
    if (line->text[0] == '@')
        i = 1;
    else
        result = ReadQuoted(line, &i, &name, REGISTRY_VALUE_NAME_MAX);
    if (result == PARSE_OK && !AppendBytes(&name, "", 1))
        result = PARSE_NO_MEMORY;
    if (result == PARSE_OK) {
        i = SkipBlanks(line, i);
        if (i < line->length && line->text[i] == '=')
            result = ReadValueData(reader, line, SkipBlanks(line, i + 1), &type, &data);
        else
            result = PARSE_MALFORMED;
    }
    if (result == PARSE_OK) {
        const char *text = (const char *)name.data;
        RegistryKeyRecord *key = &model->keys[keyIndex];
        RegistryValueRecord *value = NULL;
        if (strlen(text) != name.size - 1 || !IsValidValueName(text))
            result = PARSE_MALFORMED; // a NUL or line break inside the name
        else if (FindRegistryValue(key, text) == NULL && key->valueCount >= REGISTRY_VALUES_MAX)
            result = PARSE_MALFORMED;
        else if (!ReserveSourceLine(model) ||
                 !SetRegistryValue(key, text, type, data.data, (DWORD)data.size) ||
                 (value = FindRegistryValue(key, text)) == NULL)
            result = PARSE_NO_MEMORY;
        if (value != NULL) { // this line is now where the value was last set
            RegistrySourceLine *source = &model->lines[model->lineCount];
            source->start = lineStart;
            source->end = reader->position;
            source->key = keyIndex;
            source->valueId = value->id;
            value->line = model->lineCount++;
            value->changed = FALSE;
        }
    }
    FreeByteBuffer(&name);
    FreeByteBuffer(&data);
    return result;
}

// Reads a "[path]" line; `*keyIndex` becomes its key, or (size_t)-1 (no
// key: the values that follow are skipped) for a line that names none.
static ParseResult ReadKeyLine(const TextSpan *line, RegistryModel *model, size_t *keyIndex)
{
    *keyIndex = (size_t)-1;
    size_t end = line->length;
    while (end > 0 && IsBlank(line->text[end - 1]))
        end--;
    if (end < 2 || line->text[end - 1] != ']' || line->text[1] == '-')
        return PARSE_MALFORMED;
    char path[REGISTRY_PATH_SIZE];
    if (!NormaliseRegistryPath((const char *)line->text + 1, end - 2, path))
        return PARSE_MALFORMED;
    if (FindRegistryKey(model, path) == NULL && model->keyCount >= REGISTRY_KEYS_MAX)
        return PARSE_MALFORMED;
    RegistryKeyRecord *key = AddRegistryKey(model, path);
    if (key == NULL)
        return PARSE_NO_MEMORY;
    *keyIndex = (size_t)(key - model->keys);
    return PARSE_OK;
}

BOOL ParseRegistryFile(const BYTE *bytes, size_t size, RegistryModel *model)
{
    if (model->keyCount != 0 || model->source != NULL)
        return FALSE;
    if (bytes != NULL && size > 0) {
        model->source = (BYTE *)malloc(size);
        if (model->source == NULL)
            return FALSE;
        memcpy(model->source, bytes, size);
        model->sourceSize = size;
    }
    LineReader reader = {model->source, model->sourceSize, 0};
    TextSpan line;
    size_t keyIndex = (size_t)-1; // the key that value lines go to; none yet
    for (;;) {
        size_t lineStart = reader.position;
        if (!NextLine(&reader, &line))
            break;
        if (line.length == 0)
            continue;
        ParseResult result = PARSE_OK;
        if (line.text[0] == '[')
            result = ReadKeyLine(&line, model, &keyIndex);
        else if ((line.text[0] == '"' || line.text[0] == '@') && keyIndex != (size_t)-1)
            result = ReadValueLine(&reader, &line, model, keyIndex, lineStart);
        // anything else (the REGEDIT4 header, comments, damage) is skipped
        if (result == PARSE_NO_MEMORY)
            return FALSE;
        if (keyIndex != (size_t)-1 && line.text[0] != ';')
            model->keys[keyIndex].anchor = reader.position;
    }
    return TRUE;
}

// --- Writing ----------------------------------------------------------------------

BOOL IsRegistryFileText(const BYTE *bytes, size_t size)
{
    static const char header[] = "REGEDIT4";
    if (size == 0)
        return TRUE;
    size_t i = size >= 3 && memcmp(bytes, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (i < size && (IsBlank(bytes[i]) || bytes[i] == '\r' || bytes[i] == '\n'))
        i++;
    if (size - i < sizeof header - 1 || memcmp(bytes + i, header, sizeof header - 1) != 0)
        return FALSE;
    for (i += sizeof header - 1; i < size && (IsBlank(bytes[i]) || bytes[i] == '\r'); i++)
        ;
    return i == size || bytes[i] == '\n' ? TRUE : FALSE;
}

static BOOL AppendQuoted(ByteBuffer *out, const BYTE *text, size_t length)
{
    if (!AppendBytes(out, "\"", 1))
        return FALSE;
    for (size_t i = 0; i < length; i++) {
        if ((text[i] == '\\' || text[i] == '"') && !AppendBytes(out, "\\", 1))
            return FALSE;
        if (!AppendBytes(out, &text[i], 1))
            return FALSE;
    }
    return AppendBytes(out, "\"", 1);
}

// TRUE when a REG_SZ value can be written as "text": one terminating NUL
// and no other NUL or line break.
static BOOL IsPlainString(const RegistryValueRecord *value)
{
    if (value->type != REG_SZ || value->size == 0 || value->data[value->size - 1] != 0)
        return FALSE;
    for (DWORD i = 0; i + 1 < value->size; i++)
        if (IsLineBreakOrNul((char)value->data[i]))
            return FALSE;
    return TRUE;
}

// Appends "xx,xx,..." wrapping long lists as regedit does, with `lineBreak`.
static BOOL AppendHexList(ByteBuffer *out, const BYTE *data, DWORD size, size_t column,
                          const char *lineBreak)
{
    static const char digits[] = "0123456789abcdef";
    for (DWORD i = 0; i < size; i++) {
        if (i > 0) {
            if (!AppendBytes(out, ",", 1))
                return FALSE;
            column++;
            if (column > 76) {
                if (!AppendText(out, "\\") || !AppendText(out, lineBreak) ||
                    !AppendText(out, "  "))
                    return FALSE;
                column = 2;
            }
        }
        char pair[2] = {digits[data[i] >> 4], digits[data[i] & 0xF]};
        if (!AppendBytes(out, pair, 2))
            return FALSE;
        column += 2;
    }
    return TRUE;
}

// Appends the value's line without its final line break.
static BOOL AppendValueText(ByteBuffer *out, const RegistryValueRecord *value,
                            const char *lineBreak)
{
    size_t lineStart = out->size;
    BOOL ok = value->name[0] == '\0' ? AppendBytes(out, "@", 1)
                                     : AppendQuoted(out, (const BYTE *)value->name, strlen(value->name));
    ok = ok && AppendBytes(out, "=", 1);
    if (!ok)
        return FALSE;
    char prefix[24];
    if (IsPlainString(value))
        return AppendQuoted(out, value->data, value->size - 1);
    if (value->type == REG_DWORD && value->size == 4) {
        DWORD number = (DWORD)value->data[0] | ((DWORD)value->data[1] << 8) |
                       ((DWORD)value->data[2] << 16) | ((DWORD)value->data[3] << 24);
        snprintf(prefix, sizeof prefix, "dword:%08x", (unsigned)number);
        return AppendText(out, prefix);
    }
    if (value->type == REG_BINARY)
        snprintf(prefix, sizeof prefix, "hex:");
    else
        snprintf(prefix, sizeof prefix, "hex(%x):", (unsigned)value->type);
    return AppendText(out, prefix) &&
           AppendHexList(out, value->data, value->size, out->size - lineStart, lineBreak);
}

// The line break of the source's first line; "\n" without one.
static const char *SourceLineBreak(const RegistryModel *model)
{
    const BYTE *newline =
        model->source != NULL ? (const BYTE *)memchr(model->source, '\n', model->sourceSize) : NULL;
    return newline != NULL && newline > model->source && newline[-1] == '\r' ? "\r\n" : "\n";
}

// Ends what was written so far with a line break, so a new line can follow.
// After a line ending in "\", which would carry a hex list on into the next
// line, a blank line ends the list first.
static BOOL StartNewLine(ByteBuffer *out, const char *lineBreak)
{
    if (out->size == 0)
        return TRUE;
    if (out->data[out->size - 1] != '\n' && !AppendText(out, lineBreak))
        return FALSE;
    size_t end = out->size - 1; // the last line's text ends here
    if (end > 0 && out->data[end - 1] == '\r')
        end--;
    while (end > 0 && IsBlank(out->data[end - 1]))
        end--;
    return end > 0 && out->data[end - 1] == '\\' ? AppendText(out, lineBreak) : TRUE;
}

// Appends the values of `key` that are not from the source, a line each.
static BOOL AppendNewValues(ByteBuffer *out, const RegistryKeyRecord *key, const char *lineBreak)
{
    BOOL ok = TRUE;
    for (size_t v = 0; ok && v < key->valueCount; v++)
        if (key->values[v].line == REGISTRY_NO_SOURCE)
            ok = StartNewLine(out, lineBreak) && AppendValueText(out, &key->values[v], lineBreak) &&
                 AppendText(out, lineBreak);
    return ok;
}

// Appends the value set by source line `line` anew in that line's place,
// with the line's indentation and its own line break.
static BOOL AppendRewrittenLine(ByteBuffer *out, const RegistryModel *model,
                                const RegistrySourceLine *line, const RegistryValueRecord *value,
                                const char *lineBreak)
{
    const BYTE *text = model->source + line->start;
    size_t length = line->end - line->start, indent = 0;
    while (indent < length && IsBlank(text[indent]))
        indent++;
    const char *ending = "";
    if (length > 0 && text[length - 1] == '\n')
        ending = length > 1 && text[length - 2] == '\r' ? "\r\n" : "\n";
    return AppendBytes(out, text, indent) && AppendValueText(out, value, lineBreak) &&
           AppendText(out, ending);
}

// Where the new values of a key from the source go.
typedef struct Insertion {
    size_t at;  // offset in the source
    size_t key; // index of the key
} Insertion;

static int CompareInsertions(const void *a, const void *b)
{
    const Insertion *x = (const Insertion *)a, *y = (const Insertion *)b;
    return x->at < y->at ? -1 : x->at > y->at ? 1 : 0;
}

// What the writer needs beside the model: the values by key and id
// (values[first[k] + id] is the value `id` of key k, NULL when deleted), and
// the keys from the source with new values, in source order.
typedef struct WritePlan {
    size_t *first;
    const RegistryValueRecord **values;
    Insertion *insertions;
    size_t insertionCount;
} WritePlan;

static void FreeWritePlan(WritePlan *plan)
{
    free(plan->first);
    free(plan->values);
    free(plan->insertions);
}

static BOOL MakeWritePlan(const RegistryModel *model, WritePlan *plan)
{
    plan->first = (size_t *)malloc((model->keyCount + 1) * sizeof *plan->first);
    plan->values = NULL;
    plan->insertions = (Insertion *)malloc((model->keyCount + 1) * sizeof *plan->insertions);
    plan->insertionCount = 0;
    if (plan->first == NULL || plan->insertions == NULL)
        return FALSE;
    size_t total = 0;
    for (size_t k = 0; k < model->keyCount; k++) {
        plan->first[k] = total;
        total += model->keys[k].nextValueId;
    }
    plan->values = (const RegistryValueRecord **)calloc(total + 1, sizeof *plan->values);
    if (plan->values == NULL)
        return FALSE;
    for (size_t k = 0; k < model->keyCount; k++) {
        const RegistryKeyRecord *key = &model->keys[k];
        BOOL hasNew = FALSE;
        for (size_t v = 0; v < key->valueCount; v++) {
            plan->values[plan->first[k] + key->values[v].id] = &key->values[v];
            hasNew = hasNew || key->values[v].line == REGISTRY_NO_SOURCE;
        }
        if (hasNew && key->anchor != REGISTRY_NO_SOURCE) {
            plan->insertions[plan->insertionCount].at = key->anchor;
            plan->insertions[plan->insertionCount++].key = k;
        }
    }
    qsort(plan->insertions, plan->insertionCount, sizeof *plan->insertions, CompareInsertions);
    return TRUE;
}

// Copies the source from `*at` to `end`, putting in the new values whose
// place lies on the way.
static BOOL CopySourceUpTo(ByteBuffer *out, const RegistryModel *model, const WritePlan *plan,
                           size_t *next, size_t *at, size_t end, const char *lineBreak)
{
    BOOL ok = TRUE;
    for (; ok && *next < plan->insertionCount && plan->insertions[*next].at <= end; (*next)++) {
        const Insertion *insertion = &plan->insertions[*next];
        ok = AppendBytes(out, model->source + *at, insertion->at - *at) &&
             AppendNewValues(out, &model->keys[insertion->key], lineBreak);
        *at = insertion->at;
    }
    ok = ok && AppendBytes(out, model->source + *at, end - *at);
    *at = end;
    return ok;
}

BOOL SerialiseRegistryFile(const RegistryModel *model, BYTE **bytes, size_t *size)
{
    ByteBuffer out = {NULL, 0, 0};
    const char *lineBreak = SourceLineBreak(model);
    WritePlan plan;
    BOOL ok = MakeWritePlan(model, &plan);
    if (ok && model->sourceSize == 0)
        ok = AppendText(&out, "REGEDIT4") && AppendText(&out, lineBreak);
    size_t at = 0, next = 0;
    for (size_t l = 0; ok && l < model->lineCount; l++) {
        const RegistrySourceLine *line = &model->lines[l];
        const RegistryValueRecord *value = plan.values[plan.first[line->key] + line->valueId];
        ok = CopySourceUpTo(&out, model, &plan, &next, &at, line->start, lineBreak);
        if (value != NULL && !value->changed)
            ok = ok && AppendBytes(&out, model->source + line->start, line->end - line->start);
        else if (value != NULL && value->line == l)
            ok = ok && AppendRewrittenLine(&out, model, line, value, lineBreak);
        // else: a deleted value, or an earlier setting of a changed one
        at = line->end;
    }
    ok = ok && CopySourceUpTo(&out, model, &plan, &next, &at, model->sourceSize, lineBreak);
    for (size_t k = 0; ok && k < model->keyCount; k++) {
        const RegistryKeyRecord *key = &model->keys[k];
        if (key->anchor == REGISTRY_NO_SOURCE)
            ok = StartNewLine(&out, lineBreak) && AppendText(&out, lineBreak) &&
                 AppendText(&out, "[") && AppendText(&out, key->path) && AppendText(&out, "]") &&
                 AppendText(&out, lineBreak) && AppendNewValues(&out, key, lineBreak);
    }
    FreeWritePlan(&plan);
    if (!ok) {
        FreeByteBuffer(&out);
        return FALSE;
    }
    *bytes = out.data;
    *size = out.size;
    return TRUE;
}
