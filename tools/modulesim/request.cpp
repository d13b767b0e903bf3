#include "tools/modulesim/request.h"

#include <algorithm>
#include <cctype>

namespace modulesim {

namespace {

constexpr std::string_view kScanText = "Module Scan";
constexpr std::string_view kConfigurePrefix = "Configure:";
constexpr std::string_view kWinkPrefix = "To:";
constexpr std::string_view kWinkWord = "WINK";
constexpr std::string_view kPasswordKey = "Password:";
constexpr std::string_view kKeyValueSeparator = "=";
constexpr char kPieceEnd = ';';

char upper(char c)
{
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upper(x) == upper(y); });
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string_view trimSpaces(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

std::string upperCase(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), upper);
    return result;
}

std::string_view textOf(std::string_view datagram)
{
    const auto nul = datagram.find('\0');
    return nul == std::string_view::npos ? datagram : datagram.substr(0, nul);
}

std::vector<std::string_view> splitPieces(std::string_view text)
{
    std::vector<std::string_view> pieces;
    while (!text.empty()) {
        const auto end = text.find(kPieceEnd);
        pieces.push_back(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return pieces;
}

// The tool writes "Key = value" and "Password: value"; one optional space
// after the separator belongs to the syntax, anything further to the value.
std::string_view afterSeparator(std::string_view rest)
{
    if (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    return rest;
}

bool parsePiece(std::string_view text, ConfigurePiece& piece)
{
    if (startsWithIgnoringCase(text, kPasswordKey)) {
        piece.key = "PASSWORD";
        piece.value = afterSeparator(text.substr(kPasswordKey.size()));
        return true;
    }
    const auto separator = text.find(kKeyValueSeparator);
    if (separator == std::string_view::npos)
        return false;
    piece.key = upperCase(trimSpaces(text.substr(0, separator)));
    piece.value = afterSeparator(text.substr(separator + kKeyValueSeparator.size()));
    return !piece.key.empty();
}

// "<MAC>;rest": the target and what follows its ';'.
bool splitTarget(std::string_view text, MacAddress& target, std::string_view& rest)
{
    const auto end = text.find(kPieceEnd);
    if (end == std::string_view::npos)
        return false;
    const auto mac = MacAddress::parse(trimSpaces(text.substr(0, end)));
    if (!mac)
        return false;
    target = *mac;
    rest = text.substr(end + 1);
    return true;
}

} // namespace

Request Request::parse(std::string_view datagram)
{
    Request request;
    const std::string_view text = textOf(datagram);
    std::string_view rest;

    if (equalsIgnoringCase(text, kScanText)) {
        request.kind = Kind::Scan;
    } else if (startsWithIgnoringCase(text, kConfigurePrefix)) {
        if (!splitTarget(text.substr(kConfigurePrefix.size()), request.target, rest))
            return request;
        request.kind = Kind::Configure;
        for (std::string_view pieceText : splitPieces(rest)) {
            ConfigurePiece piece;
            if (parsePiece(pieceText, piece))
                request.pieces.push_back(std::move(piece));
        }
    } else if (startsWithIgnoringCase(text, kWinkPrefix)) {
        if (!splitTarget(text.substr(kWinkPrefix.size()), request.target, rest))
            return request;
        const auto words = splitPieces(rest);
        if (std::any_of(words.begin(), words.end(),
                [](std::string_view word) { return equalsIgnoringCase(trimSpaces(word), kWinkWord); }))
            request.kind = Kind::Wink;
    }
    return request;
}

} // namespace modulesim
