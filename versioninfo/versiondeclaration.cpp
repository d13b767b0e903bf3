#include "versioninfo/versiondeclaration.h"

#include <cctype>
#include <stdexcept>

namespace versioninfo {

namespace {

struct Token {
    enum class Kind { Word, Number, String, Comma, End };
    Kind kind = Kind::End;
    std::string word;         // Word
    std::uint32_t number = 0; // Number
    bool wide = false;        // Number with an L suffix
    std::u16string text;      // String
    int line = 1;
};

class ParseError : public std::runtime_error {
public:
    ParseError(int line, const std::string& message)
        : std::runtime_error("line " + std::to_string(line) + ": " + message)
    {
    }
};

std::u16string utf8ToUtf16(const std::string& bytes, int line)
{
    std::u16string out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::uint32_t codePoint = 0;
        std::size_t extra = 0;
        if (lead < 0x80) {
            codePoint = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            codePoint = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            codePoint = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            codePoint = lead & 0x07;
            extra = 3;
        } else {
            throw ParseError(line, "string is not UTF-8");
        }
        if (bytes.size() - i <= extra && extra != 0)
            throw ParseError(line, "string is not UTF-8");
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80)
                throw ParseError(line, "string is not UTF-8");
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        i += extra + 1;
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(codePoint));
        }
    }
    return out;
}

class Lexer {
public:
    explicit Lexer(std::string_view text)
        : text_(text)
    {
    }

    Token next()
    {
        skipBlanksAndComments();
        Token token;
        token.line = line_;
        if (pos_ >= text_.size())
            return token;
        const char c = text_[pos_];
        if (c == ',') {
            ++pos_;
            token.kind = Token::Kind::Comma;
        } else if (c == '"') {
            token.kind = Token::Kind::String;
            token.text = readString();
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            token.kind = Token::Kind::Number;
            readNumber(token);
        } else if (c == '{' || c == '}') {
            ++pos_;
            token.kind = Token::Kind::Word;
            token.word = c == '{' ? "BEGIN" : "END";
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            token.kind = Token::Kind::Word;
            while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
                token.word.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_++]))));
        } else {
            throw ParseError(line_, std::string("unexpected character '") + c + "'");
        }
        return token;
    }

private:
    void skipBlanksAndComments()
    {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (text_.substr(pos_, 2) == "//") {
                while (pos_ < text_.size() && text_[pos_] != '\n')
                    ++pos_;
            } else if (text_.substr(pos_, 2) == "/*") {
                const std::size_t close = text_.find("*/", pos_ + 2);
                if (close == std::string_view::npos)
                    throw ParseError(line_, "unterminated comment");
                for (std::size_t i = pos_; i < close; ++i)
                    line_ += text_[i] == '\n' ? 1 : 0;
                pos_ = close + 2;
            } else {
                return;
            }
        }
    }

    void readNumber(Token& token)
    {
        int base = 10;
        if (text_.substr(pos_, 2) == "0x" || text_.substr(pos_, 2) == "0X") {
            base = 16;
            pos_ += 2;
        }
        std::uint64_t value = 0;
        std::size_t digits = 0;
        while (pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_]))) {
            const char d = static_cast<char>(std::tolower(static_cast<unsigned char>(text_[pos_])));
            const int digit = std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : d - 'a' + 10;
            if (digit >= base)
                break;
            value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
            if (value > 0xFFFFFFFFu)
                throw ParseError(line_, "number wider than 32 bits");
            ++pos_;
            ++digits;
        }
        if (digits == 0)
            throw ParseError(line_, "malformed number");
        if (pos_ < text_.size() && (text_[pos_] == 'L' || text_[pos_] == 'l')) {
            token.wide = true;
            ++pos_;
        }
        if (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
            throw ParseError(line_, "malformed number");
        token.number = static_cast<std::uint32_t>(value);
    }

    std::u16string readString()
    {
        const int startLine = line_;
        ++pos_; // opening quote
        std::string bytes;
        for (;;) {
            if (pos_ >= text_.size() || text_[pos_] == '\n')
                throw ParseError(startLine, "unterminated string");
            const char c = text_[pos_++];
            if (c == '"') {
                if (pos_ < text_.size() && text_[pos_] == '"') {
                    bytes.push_back('"');
                    ++pos_;
                    continue;
                }
                break;
            }
            if (c != '\\') {
                bytes.push_back(c);
                continue;
            }
            if (pos_ >= text_.size())
                throw ParseError(startLine, "unterminated string");
            const char escape = text_[pos_++];
            switch (escape) {
            case 'n':
                bytes.push_back('\n');
                break;
            case 'r':
                bytes.push_back('\r');
                break;
            case 't':
                bytes.push_back('\t');
                break;
            case '0':
                bytes.push_back('\0');
                break;
            case '\\':
                bytes.push_back('\\');
                break;
            case '"':
                bytes.push_back('"');
                break;
            case 'x': {
                int value = 0, digits = 0;
                while (digits < 2 && pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_]))) {
                    const char d = static_cast<char>(std::tolower(static_cast<unsigned char>(text_[pos_++])));
                    value = value * 16 + (std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : d - 'a' + 10);
                    ++digits;
                }
                if (digits == 0 || value >= 0x80)
                    throw ParseError(startLine, "\\x escapes are limited to ASCII; write the character itself");
                bytes.push_back(static_cast<char>(value));
                break;
            }
            default:
                throw ParseError(startLine, std::string("unknown escape \\") + escape);
            }
        }
        return utf8ToUtf16(bytes, startLine);
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

class Parser {
public:
    explicit Parser(std::string_view text)
        : lexer_(text)
    {
        advance();
    }

    VersionDeclaration declaration()
    {
        VersionDeclaration result;
        if (current_.kind != Token::Kind::Number && current_.kind != Token::Kind::Word)
            fail("expected the resource name");
        advance();
        expectWord("VERSIONINFO");
        while (current_.kind == Token::Kind::Word && current_.word != "BEGIN")
            fixedStatement(result);
        result.children = blockBody();
        if (current_.kind != Token::Kind::End)
            fail("text after the final END");
        return result;
    }

private:
    [[noreturn]] void fail(const std::string& message) const { throw ParseError(current_.line, message); }

    void advance() { current_ = lexer_.next(); }

    void expectWord(const char* word)
    {
        if (current_.kind != Token::Kind::Word || current_.word != word)
            fail(std::string("expected ") + word);
        advance();
    }

    std::uint32_t number()
    {
        if (current_.kind != Token::Kind::Number)
            fail("expected a number");
        const std::uint32_t value = current_.number;
        advance();
        return value;
    }

    std::array<std::uint16_t, 4> versionNumbers()
    {
        std::array<std::uint16_t, 4> parts{};
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const std::uint32_t value = number();
            if (value > 0xFFFF)
                fail("version numbers are 16 bits wide");
            parts[i] = static_cast<std::uint16_t>(value);
            if (current_.kind != Token::Kind::Comma)
                break;
            if (i + 1 == parts.size())
                fail("a version has at most four numbers");
            advance();
        }
        return parts;
    }

    void fixedStatement(VersionDeclaration& result)
    {
        const std::string keyword = current_.word;
        advance();
        if (keyword == "FILEVERSION")
            result.fileVersion = versionNumbers();
        else if (keyword == "PRODUCTVERSION")
            result.productVersion = versionNumbers();
        else if (keyword == "FILEFLAGSMASK")
            result.fileFlagsMask = number();
        else if (keyword == "FILEFLAGS")
            result.fileFlags = number();
        else if (keyword == "FILEOS")
            result.fileOs = number();
        else if (keyword == "FILETYPE")
            result.fileType = number();
        else if (keyword == "FILESUBTYPE")
            result.fileSubtype = number();
        else
            fail("unknown statement " + keyword);
    }

    std::u16string string()
    {
        if (current_.kind != Token::Kind::String)
            fail("expected a string");
        std::u16string text = current_.text;
        advance();
        return text;
    }

    std::vector<VersionDeclaration::Node> blockBody()
    {
        expectWord("BEGIN");
        std::vector<VersionDeclaration::Node> nodes;
        while (!(current_.kind == Token::Kind::Word && current_.word == "END")) {
            if (current_.kind == Token::Kind::End)
                fail("missing END");
            nodes.push_back(item());
        }
        advance();
        return nodes;
    }

    VersionDeclaration::Node item()
    {
        VersionDeclaration::Node node;
        if (current_.kind == Token::Kind::Word && current_.word == "BLOCK") {
            advance();
            node.key = string();
            node.children = blockBody();
            return node;
        }
        expectWord("VALUE");
        node.key = string();
        if (current_.kind != Token::Kind::Comma)
            fail("expected ',' after the value's key");
        advance();
        if (current_.kind == Token::Kind::String) {
            node.kind = VersionDeclaration::Node::Kind::Text;
            node.text = string();
            if (current_.kind == Token::Kind::Comma)
                fail("a text value is one string");
            return node;
        }
        node.kind = VersionDeclaration::Node::Kind::Binary;
        for (;;) {
            const bool wide = current_.kind == Token::Kind::Number && current_.wide;
            const std::uint32_t value = number();
            if (!wide && value > 0xFFFF)
                fail("a number without L is 16 bits wide");
            const int bytes = wide ? 4 : 2;
            for (int i = 0; i < bytes; ++i)
                node.binary.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
            if (current_.kind != Token::Kind::Comma)
                break;
            advance();
        }
        return node;
    }

    Lexer lexer_;
    Token current_;
};

} // namespace

std::optional<VersionDeclaration> VersionDeclaration::parse(std::string_view text, std::string& error)
{
    try {
        return Parser(text).declaration();
    } catch (const ParseError& e) {
        error = e.what();
        return std::nullopt;
    }
}

} // namespace versioninfo
