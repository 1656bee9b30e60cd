#pragma once
// VarDecoder: a variable's reply bytes (most significant first) to its display text, by VarType.
// Reads only the bytes it is given: a reply shorter than the type wants decodes what is there
// (integers) or is refused (fixed-layout texts). Stateless; any thread.

#include <cstdint>
#include <string>
#include <vector>

struct VarInfo;

class VarDecoder {
public:
    enum class Result {
        kDecoded,  // `text` holds the new display text
        kKeep,     // the value stays (a size the type cannot read, an unknown type)
        kClear,    // the value becomes empty (a MAC of fewer than six bytes)
    };

    //! Decodes `bytes` for `var` (its type and read coefficient) into `text`. Logs the table
    //! problems the type names (MAC, HWVER, SWVER_YMD sizes, unknown types).
    static Result Decode(const VarInfo& var, const std::vector<uint8_t>& bytes, std::string& text);

private:
    static std::string IntegerText(const VarInfo& var, const std::vector<uint8_t>& bytes, int width,
                                   bool is_signed);
    static std::string VersionText(const std::vector<uint8_t>& bytes, bool hardware);
    static std::string Trimmed(const std::vector<uint8_t>& bytes, size_t begin, size_t end);
};
