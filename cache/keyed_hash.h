// SipHash-1-3 (Aumasson and Bernstein), the keyed hash of the sibling index.
// Without the 128-bit key its outputs cannot be predicted, so names chosen by
// whoever wrote a site file cannot be made to share slots; the index draws
// its key once per process. A pure function, kept here so the benchmark can
// craft names against a key it fixes itself.
#ifndef QVORK_CACHE_KEYED_HASH_H
#define QVORK_CACHE_KEYED_HASH_H

#include <stddef.h>
#include <stdint.h>

struct HashKey {
    uint64_t k0, k1;
};

struct SipState {
    uint64_t v0, v1, v2, v3;
    uint64_t word;  // bytes not yet compressed, little-endian
    uint32_t count; // bytes taken so far
};

static inline uint64_t SipRotate(uint64_t x, int bits)
{
    return (x << bits) | (x >> (64 - bits));
}

static inline void SipRound(struct SipState *s)
{
    s->v0 += s->v1; s->v1 = SipRotate(s->v1, 13); s->v1 ^= s->v0; s->v0 = SipRotate(s->v0, 32);
    s->v2 += s->v3; s->v3 = SipRotate(s->v3, 16); s->v3 ^= s->v2;
    s->v0 += s->v3; s->v3 = SipRotate(s->v3, 21); s->v3 ^= s->v0;
    s->v2 += s->v1; s->v1 = SipRotate(s->v1, 17); s->v1 ^= s->v2; s->v2 = SipRotate(s->v2, 32);
}

static inline void SipByte(struct SipState *s, unsigned char byte)
{
    s->word |= (uint64_t)byte << (8 * (s->count % 8));
    if (++s->count % 8 == 0) {
        s->v3 ^= s->word;
        SipRound(s);
        s->v0 ^= s->word;
        s->word = 0;
    }
}

// The hash of the 4 bytes of `prefix` (little-endian) followed by `length`
// bytes of `text`, folded to 32 bits.
static inline uint32_t KeyedHash(const struct HashKey *key, uint32_t prefix, const char *text,
                                 size_t length)
{
    struct SipState s = {key->k0 ^ 0x736f6d6570736575ull, key->k1 ^ 0x646f72616e646f6dull,
                         key->k0 ^ 0x6c7967656e657261ull, key->k1 ^ 0x7465646279746573ull, 0, 0};
    for (int i = 0; i < 4; i++)
        SipByte(&s, (unsigned char)(prefix >> (8 * i)));
    for (size_t i = 0; i < length; i++)
        SipByte(&s, (unsigned char)text[i]);
    uint64_t last = s.word | ((uint64_t)(s.count & 0xFF) << 56);
    s.v3 ^= last;
    SipRound(&s);
    s.v0 ^= last;
    s.v2 ^= 0xFF;
    SipRound(&s);
    SipRound(&s);
    SipRound(&s);
    uint64_t hash = s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
    return (uint32_t)(hash ^ (hash >> 32));
}

#endif
