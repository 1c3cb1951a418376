#include "platform/face_match.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define MORVEL_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORVEL_LEAK_CHECKED 1
#endif
#endif

#ifdef MORVEL_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace morvel {

namespace {

// Pitch bits of lfPitchAndFamily, and the family bit that asks for serifs.
constexpr uint8_t kPitchMask = 0x03;
constexpr uint8_t kVariablePitch = 2;
constexpr uint8_t kFamilyMask = 0xF0;
constexpr uint8_t kFamilyRoman = 0x10;

// fontconfig is initialised once and its configuration stays loaded for the
// life of the process (a toolkit in the same process shares it), unless a
// program done with fonts releases it with releaseFontSystem; no font can be
// made after that.
bool fontconfigReady = false;

bool initFontconfig()
{
    static std::once_flag once;
    bool& ready = fontconfigReady;
    std::call_once(once, [&ready] {
#ifdef MORVEL_LEAK_CHECKED
        // The configuration keeps a few blocks that only FcFini releases
        // and that the leak checker cannot trace from its roots (fontconfig
        // stores some links as offsets). They are made once per process, so
        // only what fontconfig allocates while loading it is left out of
        // the leak report.
        __lsan_disable();
#endif
        ready = FcInit() == FcTrue;
#ifdef MORVEL_LEAK_CHECKED
        __lsan_enable();
#endif
    });
    return ready;
}

struct PatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using PatternHandle = std::unique_ptr<FcPattern, PatternDeleter>;

// The families the configuration binds to the requested one, the request
// first: the strongly bound families at the head of a substituted pattern
// (aliases such as Courier -> Nimbus Mono PS), before the weakly bound
// generic fallbacks that every name gets.
std::vector<std::string> aliasesOf(FcPattern* substituted)
{
    std::vector<std::string> aliases;
    FcValue value;
    FcValueBinding binding = FcValueBindingWeak;
    for (int i = 0; FcPatternGetWithBinding(substituted, FC_FAMILY, i, &value, &binding) == FcResultMatch; ++i) {
        if (binding == FcValueBindingWeak)
            break;
        if (value.type == FcTypeString && value.u.s)
            aliases.emplace_back(reinterpret_cast<const char*>(value.u.s));
    }
    return aliases;
}

// The best installed match for a family at a weight and slant, with the
// configuration's substitutions applied as every fontconfig client does.
// `aliases`, when given, receives the request's aliases (see aliasesOf).
PatternHandle bestMatch(const char* family, int fcWeight, bool italic, bool monospaced,
                        std::vector<std::string>* aliases = nullptr)
{
    PatternHandle pattern(FcPatternCreate());
    if (!pattern)
        return nullptr;
    const auto* name = reinterpret_cast<const FcChar8*>(family);
    if (!FcPatternAddString(pattern.get(), FC_FAMILY, name) ||
        !FcPatternAddInteger(pattern.get(), FC_WEIGHT, fcWeight) ||
        !FcPatternAddInteger(pattern.get(), FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN) ||
        !FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue))
        return nullptr;
    if (monospaced && !FcPatternAddInteger(pattern.get(), FC_SPACING, FC_MONO))
        return nullptr;
    if (!FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern))
        return nullptr;
    if (aliases)
        *aliases = aliasesOf(pattern.get());
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    PatternHandle match(FcFontMatch(nullptr, pattern.get(), &result));
    if (!match || result != FcResultMatch)
        return nullptr;
    FcChar8* file = nullptr;
    if (FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || !file)
        return nullptr;
    return match;
}

// The family of `match` that one of `names` names (ignoring case), or none.
// A face may carry several family names (e.g. "Roboto" and "Roboto Thin").
const char* matchingFamily(FcPattern* match, const std::vector<std::string>& names)
{
    FcChar8* family = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &family) == FcResultMatch; ++i) {
        for (const std::string& name : names) {
            if (family && FcStrCmpIgnoreCase(family, reinterpret_cast<const FcChar8*>(name.c_str())) == 0)
                return reinterpret_cast<const char*>(family);
        }
    }
    return nullptr;
}

// The generic family names, which any installed face of the kind answers.
bool isGenericFamily(const std::string& name)
{
    for (const char* generic : {"monospace", "mono", "sans-serif", "sans", "serif"}) {
        if (FcStrCmpIgnoreCase(reinterpret_cast<const FcChar8*>(name.c_str()),
                               reinterpret_cast<const FcChar8*>(generic)) == 0)
            return true;
    }
    return false;
}

std::string firstFamily(FcPattern* match)
{
    FcChar8* family = nullptr;
    if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch && family)
        return reinterpret_cast<const char*>(family);
    return {};
}

// The face name of a description: at most 31 bytes, also when the record's
// name is not terminated.
std::string faceNameOf(const LogFont& description)
{
    const char* name = description.lfFaceName;
    size_t length = 0;
    while (length < kFaceNameSize - 1 && name[length] != '\0')
        ++length;
    return std::string(name, length);
}

bool isValidUtf8(const std::string& text)
{
    int chars = 0;
    int width = 0;
    return FcUtf8Len(reinterpret_cast<const FcChar8*>(text.c_str()), static_cast<int>(text.size()), &chars, &width) ==
           FcTrue;
}

// The requested face itself, when fontconfig has it (see face_match.h):
// fills `face`'s family; none otherwise.
PatternHandle requestedFace(MatchedFace& face, int fcWeight, bool italic)
{
    if (face.requested.empty() || !isValidUtf8(face.requested))
        return nullptr;
    std::vector<std::string> aliases;
    PatternHandle match = bestMatch(face.requested.c_str(), fcWeight, italic, false, &aliases);
    // fontconfig always offers some face. It counts as the requested one
    // when it is of the requested family or of one the configuration makes
    // its alias, or when a generic family was asked for.
    aliases.insert(aliases.begin(), face.requested);
    const char* family = match ? matchingFamily(match.get(), aliases) : nullptr;
    if (family)
        face.family = family;
    else if (match && isGenericFamily(face.requested))
        face.family = firstFamily(match.get());
    else
        match.reset();
    return match;
}

// A stand-in of the same pitch: proportional when the description asks for
// variable pitch, monospaced otherwise (the default face is a monospaced
// one).
PatternHandle standIn(const LogFont& description, int fcWeight, bool italic)
{
    const bool variable = (description.lfPitchAndFamily & kPitchMask) == kVariablePitch;
    if (!variable)
        return bestMatch("monospace", fcWeight, italic, true);
    const bool serif = (description.lfPitchAndFamily & kFamilyMask) == kFamilyRoman;
    return bestMatch(serif ? "serif" : "sans-serif", fcWeight, italic, false);
}

}  // namespace

std::optional<MatchedFace> matchFace(const LogFont& description)
{
    if (!initFontconfig())
        return std::nullopt;
    int32_t weight = description.lfWeight;
    if (weight <= 0)
        weight = 400;
    weight = std::min(weight, 1000);
    const int fcWeight = FcWeightFromOpenType(weight);
    const bool italic = description.lfItalic != 0;

    MatchedFace face;
    face.requested = faceNameOf(description);
    PatternHandle match = requestedFace(face, fcWeight, italic);
    if (!match) {
        match = standIn(description, fcWeight, italic);
        if (!match)
            return std::nullopt;
        face.family = firstFamily(match.get());
        face.substitute = true;
    }
    FcChar8* file = nullptr;
    FcPatternGetString(match.get(), FC_FILE, 0, &file);
    face.path = reinterpret_cast<const char*>(file);
    int index = 0;
    if (FcPatternGetInteger(match.get(), FC_INDEX, 0, &index) == FcResultMatch)
        face.index = index;
    return face;
}

void releaseFontSystem()
{
    if (fontconfigReady) {
        FcFini();
        fontconfigReady = false;
    }
}

}  // namespace morvel
