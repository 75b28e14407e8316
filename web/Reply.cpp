#include "web/Reply.hpp"

#include <cstring>

#include <algorithm>
#include <atomic>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace vesko::reply {
namespace {

// How each byte is written: most bytes as themselves, the special ones as a
// backslash and a letter; a carriage return is dropped or written as \r.
struct EscapeTable {
    char first[256];
    char second[256];
    unsigned char length[256];

    constexpr explicit EscapeTable(bool dropCarriageReturns) : first(), second(), length() {
        for (int c = 0; c < 256; ++c) {
            first[c] = static_cast<char>(c);
            second[c] = 0;
            length[c] = 1;
        }
        const char specials[][2] = {{'\\', '\\'}, {'\'', '\''}, {'\n', 'n'}, {'\r', 'r'}};
        for (const auto& [c, letter] : specials) {
            first[static_cast<unsigned char>(c)] = '\\';
            second[static_cast<unsigned char>(c)] = letter;
            length[static_cast<unsigned char>(c)] = 2;
        }
        if (dropCarriageReturns) length[static_cast<unsigned char>('\r')] = 0;
    }
};

constexpr EscapeTable kKeepCarriageReturns(false);
constexpr EscapeTable kDropCarriageReturns(true);

inline bool isSeparator(const char* p, const char* end) {  // U+2028 or U+2029 at p
    return end - p >= 3 && static_cast<unsigned char>(p[0]) == 0xE2 &&
           static_cast<unsigned char>(p[1]) == 0x80 && (static_cast<unsigned char>(p[2]) & 0xFE) == 0xA8;
}

// Writes the byte at `p` escaped; returns how many input bytes it took.
inline std::size_t writeOne(char*& o, const char* p, const char* end, const EscapeTable& table) {
    if (isSeparator(p, end)) {
        std::memcpy(o, static_cast<unsigned char>(p[2]) == 0xA8 ? "\\u2028" : "\\u2029", 6);
        o += 6;
        return 3;
    }
    const unsigned char c = static_cast<unsigned char>(*p);
    o[0] = table.first[c];
    o[1] = table.second[c];
    o += table.length[c];
    return 1;
}

#if defined(__x86_64__)
// The same escaping, 32 input bytes at a time, on processors with AVX-512
// byte expansion: each block's special bytes are mapped to their letters and
// the block is expanded into up to 64 output bytes with a backslash in front
// of each of them, without a branch per special byte. Takes whole blocks
// while at least 66 (then 34) bytes remain, and stops early at a block
// holding U+2028 or U+2029, which the portable path then takes. Returns
// where it stopped.
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi2,bmi2,popcnt")))
const char* writeEscapedBlocks(char*& out, const char* p, const char* end, bool dropCarriageReturns) {
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i quote = _mm256_set1_epi8('\'');
    const __m256i lineFeed = _mm256_set1_epi8('\n');
    const __m256i carriageReturn = _mm256_set1_epi8('\r');
    const __m256i separatorLead = _mm256_set1_epi8(static_cast<char>(0xE2));
    const __m256i separatorMiddle = _mm256_set1_epi8(static_cast<char>(0x80));
    const __m256i separatorLastBits = _mm256_set1_epi8(static_cast<char>(0xFE));
    const __m256i separatorLast = _mm256_set1_epi8(static_cast<char>(0xA8));
    const __m256i letterN = _mm256_set1_epi8('n');
    const __m256i letterR = _mm256_set1_epi8('r');
    const __m512i backslashes = _mm512_set1_epi8('\\');
    constexpr std::uint64_t kEven = 0x5555555555555555ULL;
    constexpr std::uint64_t kOdd = 0xAAAAAAAAAAAAAAAAULL;
    char* o = out;
    // Text without carriage returns (all JSON text) goes 64 bytes at a time:
    // one set of comparisons, then each half expanded on its own.
    {
        const __m512i backslash64 = _mm512_set1_epi8('\\');
        const __m512i quote64 = _mm512_set1_epi8('\'');
        const __m512i lineFeed64 = _mm512_set1_epi8('\n');
        const __m512i carriageReturn64 = _mm512_set1_epi8('\r');
        const __m512i separatorLead64 = _mm512_set1_epi8(static_cast<char>(0xE2));
        const __m512i separatorMiddle64 = _mm512_set1_epi8(static_cast<char>(0x80));
        const __m512i separatorLastBits64 = _mm512_set1_epi8(static_cast<char>(0xFE));
        const __m512i separatorLast64 = _mm512_set1_epi8(static_cast<char>(0xA8));
        const __m512i letterN64 = _mm512_set1_epi8('n');
        while (end - p >= 66) {
            const __m512i block = _mm512_loadu_si512(p);
            if (_mm512_cmpeq_epi8_mask(block, carriageReturn64)) break;
            if (const __mmask64 leads = _mm512_cmpeq_epi8_mask(block, separatorLead64)) {
                const __m512i next = _mm512_loadu_si512(p + 1);
                const __m512i third = _mm512_loadu_si512(p + 2);
                if (leads & _mm512_cmpeq_epi8_mask(next, separatorMiddle64) &
                    _mm512_cmpeq_epi8_mask(_mm512_and_si512(third, separatorLastBits64), separatorLast64))
                    break;
            }
            const __mmask64 lineFeeds = _mm512_cmpeq_epi8_mask(block, lineFeed64);
            const __mmask64 escapes = _mm512_cmpeq_epi8_mask(block, backslash64) |
                                      _mm512_cmpeq_epi8_mask(block, quote64) | lineFeeds;
            const __m512i letters = _mm512_mask_blend_epi8(lineFeeds, block, letterN64);
            const std::uint64_t lowSlots = _pdep_u64(escapes & 0xFFFFFFFFULL, kEven) | kOdd;
            const std::uint64_t highSlots = _pdep_u64(escapes >> 32, kEven) | kOdd;
            _mm512_storeu_si512(o, _mm512_mask_expand_epi8(backslashes, _pext_u64(kOdd, lowSlots), letters));
            o += __builtin_popcountll(lowSlots);
            _mm512_storeu_si512(o, _mm512_mask_expand_epi8(backslashes, _pext_u64(kOdd, highSlots),
                                                           _mm512_maskz_alignr_epi64(0xFF, letters, letters, 4)));
            o += __builtin_popcountll(highSlots);
            p += 64;
        }
    }
    while (end - p >= 34) {
        const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __mmask32 lineFeeds = _mm256_cmpeq_epi8_mask(block, lineFeed);
        const __mmask32 carriageReturns = _mm256_cmpeq_epi8_mask(block, carriageReturn);
        __mmask32 escapes = _mm256_cmpeq_epi8_mask(block, backslash) | _mm256_cmpeq_epi8_mask(block, quote) | lineFeeds;
        if (const __mmask32 leads = _mm256_cmpeq_epi8_mask(block, separatorLead)) {
            const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
            const __m256i third = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
            if (leads & _mm256_cmpeq_epi8_mask(next, separatorMiddle) &
                _mm256_cmpeq_epi8_mask(_mm256_and_si256(third, separatorLastBits), separatorLast))
                break;
        }
        __m256i letters = _mm256_mask_blend_epi8(lineFeeds, block, letterN);
        unsigned kept = 32;
        if (carriageReturns) {
            if (dropCarriageReturns) {
                const __mmask32 keep = ~carriageReturns;
                letters = _mm256_maskz_compress_epi8(keep, letters);
                escapes = _pext_u32(escapes, keep);
                kept = 32 - static_cast<unsigned>(__builtin_popcount(carriageReturns));
            } else {
                letters = _mm256_mask_blend_epi8(carriageReturns, letters, letterR);
                escapes |= carriageReturns;
            }
        }
        // Two output slots per kept byte, a backslash slot (even) and the
        // byte's own slot (odd); the backslash slot exists only for escapes.
        const std::uint64_t ownSlots = kept == 32 ? kOdd : kOdd & ((1ULL << (2 * kept)) - 1);
        const std::uint64_t slots = _pdep_u64(escapes, kEven) | ownSlots;
        const std::uint64_t byteMask = _pext_u64(kOdd, slots);
        _mm512_storeu_si512(o, _mm512_mask_expand_epi8(backslashes, byteMask, _mm512_castsi256_si512(letters)));
        o += __builtin_popcountll(slots);
        p += 32;
    }
    out = o;
    return p;
}

bool canEscapeBlocks() {
    static const bool supported = __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
                                  __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2");
    return supported;
}
#endif

std::atomic<bool> wideEscapingAllowed{true};

// Writes `text` escaped for a single-quoted JavaScript string literal to `o`
// and returns the end of what it wrote: backslash, quote, line feed, U+2028
// and U+2029 always; a carriage return becomes \r, or is dropped when
// `dropCarriageReturns` is set. `o` must have room for twice the text's size
// plus 64 bytes (no escape is longer than twice what it replaces, and the
// block paths store whole blocks).
//
// Replies carry whole extraction outputs (hundreds of kilobytes), so text is
// taken sixteen bytes at a time: the plain runs between special bytes are
// copied with one 16-byte store each, and no branch depends on which special
// byte was found.
char* writeEscaped(char* o, std::string_view text, bool dropCarriageReturns) {
    const EscapeTable& table = dropCarriageReturns ? kDropCarriageReturns : kKeepCarriageReturns;
    const char* p = text.data();
    const char* end = p + text.size();
#if defined(__x86_64__)
    if (canEscapeBlocks() && wideEscapingAllowed.load(std::memory_order_relaxed))
        p = writeEscapedBlocks(o, p, end, dropCarriageReturns);
#endif
#if defined(__SSE2__)
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i quote = _mm_set1_epi8('\'');
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i carriageReturn = _mm_set1_epi8('\r');
    const __m128i separatorLead = _mm_set1_epi8(static_cast<char>(0xE2));
    // Every load reads at most 32 bytes past the chunk's start.
    while (end - p >= 32) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hits = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(chunk, backslash), _mm_cmpeq_epi8(chunk, quote)),
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, lineFeed), _mm_cmpeq_epi8(chunk, carriageReturn)),
                         _mm_cmpeq_epi8(chunk, separatorLead)));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        std::size_t pos = 0;  // first byte of the chunk not yet written
        while (mask != 0) {
            const std::size_t j = static_cast<std::size_t>(__builtin_ctz(mask));
            mask &= mask - 1;
            if (j < pos) continue;  // inside a separator already written
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + pos)));
            o += j - pos;
            pos = j + writeOne(o, p + j, end, table);
        }
        if (pos < 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + pos)));
            o += 16 - pos;
            pos = 16;
        }
        p += pos;
    }
#endif
    while (p < end) p += writeOne(o, p, end, table);
    return o;
}

// Appends `text`, escaped, to `out`. Escapes are rare next to plain text, so
// the room made (and zero-filled) up front is the text's size and an eighth;
// the text is escaped in pieces whose worst case fits what room is left, and
// the room grows only when that runs short.
void appendEscaped(std::string& out, std::string_view text, bool dropCarriageReturns) {
    constexpr std::size_t kSlack = 64;  // what the block paths may store past their output
    std::size_t used = out.size();
    out.resize(used + text.size() + text.size() / 8 + 2 * kSlack);
    while (!text.empty()) {
        std::size_t room = out.size() - used - kSlack;
        if (room < 2 * kSlack) {
            out.resize(out.size() + text.size() + text.size() / 8 + 2 * kSlack);
            room = out.size() - used - kSlack;
        }
        std::size_t piece = std::min(text.size(), room / 2);
        // U+2028 and U+2029 are escaped whole, so a piece never ends inside
        // one; every other byte is written on its own and may end a piece.
        // (A piece is at least kSlack bytes long when text remains after it.)
        const char* textEnd = text.data() + text.size();
        for (std::size_t back : {2, 1})
            if (piece < text.size() && isSeparator(text.data() + piece - back, textEnd)) {
                piece -= back;
                break;
            }
        char* written = writeEscaped(out.data() + used, text.substr(0, piece), dropCarriageReturns);
        used = static_cast<std::size_t>(written - out.data());
        text.remove_prefix(piece);
    }
    out.resize(used);
}

std::string escaped(std::string_view text, bool dropCarriageReturns) {
    std::string out;
    appendEscaped(out, text, dropCarriageReturns);
    return out;
}

constexpr std::string_view kResolveOpen = "Bridge._resolve('";
constexpr std::string_view kRejectOpen = "Bridge._reject('";

std::string concat(std::initializer_list<std::string_view> pieces) {
    std::size_t size = 0;
    for (auto piece : pieces) size += piece.size();
    std::string out;
    out.reserve(size);
    for (auto piece : pieces) out.append(piece);
    return out;
}

}  // namespace

void detail::allowWideEscaping(bool allowed) { wideEscapingAllowed = allowed; }

std::string parseEscape(std::string_view text) { return escaped(text, true); }
std::string bodyEscape(std::string_view text) { return escaped(text, false); }
std::string messageEscape(std::string_view text) { return escaped(text, false); }
std::string quoteEscape(std::string_view text) { return escaped(text, false); }

std::string resolveValue(std::string_view callbackId, std::string_view json) {
    return concat({kResolveOpen, callbackId, "', ", json, ")"});
}

std::string resolveParsed(std::string_view callbackId, std::string_view json) {
    // Built in place: extraction outputs are large.
    std::string out;
    out.reserve(kResolveOpen.size() + callbackId.size() + json.size() + json.size() / 8 + 256);
    out.append(kResolveOpen).append(callbackId).append("', JSON.parse('");
    appendEscaped(out, json, true);
    out.append("'))");
    return out;
}

std::string resolveText(std::string_view callbackId, std::string_view text) {
    return concat({kResolveOpen, callbackId, "', '", quoteEscape(text), "')"});
}

std::string rejectMessage(std::string_view callbackId, std::string_view message,
                          MessageEscaping escaping) {
    const std::string escaped =
        escaping == MessageEscaping::Message ? messageEscape(message) : quoteEscape(message);
    return concat({kRejectOpen, callbackId, "', '", escaped, "')"});
}

std::string_view fixedMessage(FixedReject which) {
    switch (which) {
        case FixedReject::InvalidURL: return "Invalid URL";
        case FixedReject::ProxyRestricted: return "Proxy restricted to allowed hosts";
        case FixedReject::EmptyResponse: return "Empty response";
        case FixedReject::InvalidBase64: return "Invalid base64 data";
        case FixedReject::InvalidJSON: return "Invalid JSON data";
    }
    return {};
}

std::string rejectFixed(std::string_view callbackId, FixedReject which) {
    return concat({kRejectOpen, callbackId, "', '", fixedMessage(which), "')"});
}

std::string resolveFetchResponse(std::string_view callbackId, std::int64_t status,
                                 std::string_view body) {
    const std::string digits = std::to_string(status);
    return concat({"(function(){try{Bridge._resolve('", callbackId, "',{status:", digits,
                   ",body:JSON.parse('", bodyEscape(body), "')})}catch(e){Bridge._reject('",
                   callbackId, "','Invalid JSON response')}})()"});
}

std::string pushAction(std::string_view action) {
    return concat({"if(typeof handleBridgeAction==='function') handleBridgeAction('",
                   quoteEscape(action), "')"});
}

}  // namespace vesko::reply
