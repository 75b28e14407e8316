#include "tools/osascript/Lexer.hpp"

#include <cctype>

namespace vesko::osascript {

namespace {

bool isWordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool isWordChar(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

class Lexer {
public:
    explicit Lexer(const std::string& program) : s_(program) {}

    std::vector<Token> run() {
        while (pos_ < s_.size()) {
            char c = s_[pos_];
            if (c == ' ' || c == '\t' || c == '\f' || c == '\v') {
                ++pos_;
            } else if (c == '\n' || c == '\r') {
                lineEnd(pos_, pos_ + 1);
                ++pos_;
            } else if (startsWith("\xC2\xAC")) {  // ¬ joins this line to the next
                pos_ += 2;
                while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
                if (pos_ < s_.size() && s_[pos_] == '\r') ++pos_;
                if (pos_ < s_.size() && s_[pos_] == '\n') ++pos_;
            } else if (startsWith("--") || c == '#') {
                while (pos_ < s_.size() && s_[pos_] != '\n' && s_[pos_] != '\r') ++pos_;
            } else if (startsWith("(*")) {
                blockComment();
            } else if (c == '"') {
                string();
            } else if (isDigit(c) || (c == '.' && pos_ + 1 < s_.size() && isDigit(s_[pos_ + 1]))) {
                number();
            } else if (c == '|') {
                pipedWord();
            } else if (possessive()) {
            } else if (symbol()) {
            } else if (isWordStart(static_cast<unsigned char>(c))) {
                word();
            } else {
                throw SyntaxError({pos_, pos_ + 1}, "A unknown token can\u2019t go here.", errnum::kUnknownToken);
            }
        }
        lineEnd(pos_, pos_);
        tokens_.push_back({TokenKind::End, "", "", {s_.size(), s_.size()}});
        return std::move(tokens_);
    }

private:
    bool startsWith(const char* text) const { return s_.compare(pos_, std::char_traits<char>::length(text), text) == 0; }

    void push(TokenKind kind, std::string text, std::size_t begin) {
        std::string raw = s_.substr(begin, pos_ - begin);
        tokens_.push_back({kind, std::move(text), std::move(raw), {begin, pos_}});
    }

    void lineEnd(std::size_t begin, std::size_t end) {
        if (!tokens_.empty() && tokens_.back().kind == TokenKind::LineEnd) return;
        if (tokens_.empty()) return;  // leading blank lines separate nothing
        tokens_.push_back({TokenKind::LineEnd, "", "", {begin, end}});
    }

    void blockComment() {
        std::size_t begin = pos_;
        int depth = 0;
        while (pos_ < s_.size()) {
            if (startsWith("(*")) {
                ++depth;
                pos_ += 2;
            } else if (startsWith("*)")) {
                pos_ += 2;
                if (--depth == 0) return;
            } else {
                ++pos_;
            }
        }
        throw SyntaxError({begin, s_.size()}, "Expected \u201c*)\u201d but found end of script.");
    }

    void string() {
        std::size_t begin = pos_++;
        std::string value;
        while (pos_ < s_.size()) {
            char c = s_[pos_];
            if (c == '"') {
                ++pos_;
                push(TokenKind::String, std::move(value), begin);
                return;
            }
            if (c == '\\' && pos_ + 1 < s_.size()) {
                char next = s_[pos_ + 1];
                switch (next) {
                case '"': value += '"'; break;
                case '\\': value += '\\'; break;
                case 'n': value += '\n'; break;
                case 't': value += '\t'; break;
                case 'r': value += '\r'; break;
                default:
                    // Not an escape: the backslash stands for itself.
                    value += '\\';
                    value += next;
                }
                pos_ += 2;
                continue;
            }
            value += c;
            ++pos_;
        }
        throw SyntaxError({begin, s_.size()}, "Expected \u201c\"\u201d but found end of script.");
    }

    void number() {
        std::size_t begin = pos_;
        while (pos_ < s_.size() && isDigit(s_[pos_])) ++pos_;
        if (pos_ + 1 < s_.size() && s_[pos_] == '.' && isDigit(s_[pos_ + 1])) {
            ++pos_;
            while (pos_ < s_.size() && isDigit(s_[pos_])) ++pos_;
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            std::size_t mark = pos_++;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (pos_ < s_.size() && isDigit(s_[pos_])) {
                while (pos_ < s_.size() && isDigit(s_[pos_])) ++pos_;
            } else {
                pos_ = mark;
            }
        }
        push(TokenKind::Number, s_.substr(begin, pos_ - begin), begin);
    }

    void pipedWord() {
        std::size_t begin = pos_++;
        std::size_t close = s_.find('|', pos_);
        if (close == std::string::npos || s_.find_first_of("\r\n", pos_) < close)
            throw SyntaxError({begin, s_.size()}, "Expected \u201c|\u201d but found end of line.");
        std::string name = s_.substr(pos_, close - pos_);
        pos_ = close + 1;
        push(TokenKind::Word, "|" + name + "|", begin);
    }

    bool possessive() {
        // 's or ’s directly after a word, with no word character following.
        if (tokens_.empty() || tokens_.back().kind != TokenKind::Word || tokens_.back().range.end != pos_) return false;
        std::size_t length = 0;
        if (startsWith("'s") || startsWith("'S"))
            length = 2;
        else if (startsWith("\xE2\x80\x99s") || startsWith("\xE2\x80\x99S"))
            length = 4;
        if (!length) return false;
        if (pos_ + length < s_.size() && isWordChar(static_cast<unsigned char>(s_[pos_ + length]))) return false;
        std::size_t begin = pos_;
        pos_ += length;
        push(TokenKind::Symbol, "'s", begin);
        return true;
    }

    bool symbol() {
        static const char* const multi[][2] = {{"\xE2\x89\xA0", "\xE2\x89\xA0"},  // ≠
                                               {"\xE2\x89\xA4", "<="},            // ≤
                                               {"\xE2\x89\xA5", ">="},            // ≥
                                               {"<=", "<="},
                                               {">=", ">="},
                                               {"/=", "\xE2\x89\xA0"},
                                               {"<>", "\xE2\x89\xA0"}};
        for (const auto& m : multi) {
            if (startsWith(m[0])) {
                std::size_t begin = pos_;
                pos_ += std::char_traits<char>::length(m[0]);
                push(TokenKind::Symbol, m[1], begin);
                return true;
            }
        }
        static const std::string single = "(){},&=:+-*/<>^";
        if (single.find(s_[pos_]) == std::string::npos) return false;
        std::size_t begin = pos_++;
        push(TokenKind::Symbol, std::string(1, s_[begin]), begin);
        return true;
    }

    void word() {
        std::size_t begin = pos_;
        while (pos_ < s_.size() && isWordChar(static_cast<unsigned char>(s_[pos_])) && !startsWith("\xC2\xAC") &&
               !startsWith("\xE2\x89\xA0") && !startsWith("\xE2\x89\xA4") && !startsWith("\xE2\x89\xA5") &&
               !startsWith("\xE2\x80\x99"))
            ++pos_;
        if (pos_ == begin) throw SyntaxError({pos_, pos_ + 1}, "A unknown token can\u2019t go here.", errnum::kUnknownToken);
        push(TokenKind::Word, lower(s_.substr(begin, pos_ - begin)), begin);
    }

    const std::string& s_;
    std::size_t pos_ = 0;
    std::vector<Token> tokens_;
};

}  // namespace

std::vector<Token> tokenize(const std::string& program) { return Lexer(program).run(); }

}  // namespace vesko::osascript
