#pragma once

// Runs a handler of the AppleScript we generate, so a test can check what the handler
// returns, not how its lines read: there is no osascript here to run it. Only the forms our
// handlers use are known, and anything else throws, so a handler that grows a new form
// fails its test until the form is added here:
//   on NAME(PARAMETER) ... end NAME, with the statements
//     set V to E | return E | if C then STATEMENT | if C then ... [else if C then ...]
//     [else ...] end if | repeat with V in E ... end repeat | repeat with V from E to E ...
//     end repeat
//   and the expressions
//     "text" (with \" \\ \n \r \t) | 12 | {E, ...} | missing value | V | (E) | E & E |
//     E + E | E - E | E * E | E div E | E mod E | E is [not] E | E = E | E < E | E > E |
//     E as string | character E of E | character id E | id of E | length of E |
//     contents of E | class of E | list, integer, text, string (class names)
// As AppleScript does: characters count from 1, `id of` a text of one character is its
// code point and of a longer text the list of them, `&` after a text makes text, a loop
// over a list gives its items. Where it does not: a character is one code point (texts
// with combining marks would count differently), and `is` compares text exactly (it ignores
// case there).

#include <unicode/unistr.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace qd::test {

class AppleScriptHandler {
 public:
  struct Missing {
    bool operator==(const Missing&) const = default;
  };
  struct ClassName {
    std::string name;
    bool operator==(const ClassName&) const = default;
  };
  struct Value {
    std::variant<Missing, std::int64_t, std::u32string, std::vector<Value>, ClassName> v;
    bool operator==(const Value&) const = default;
  };

  // `script`: the handler's lines, and nothing else.
  explicit AppleScriptHandler(const std::vector<std::string>& script) {
    std::vector<Line> lines;
    for (const std::string& text : script) {
      Line line = tokenize(text);
      if (!line.empty()) lines.push_back(std::move(line));
    }
    if (lines.size() < 2 || !isWord(lines.front(), 0, "on") || lines.front().size() != 5 ||
        !isSymbol(lines.front(), 2, "(") || !isSymbol(lines.front(), 4, ")")) {
      throw std::invalid_argument("the script does not begin with a handler of one parameter");
    }
    parameter_ = lines.front()[3].text;
    std::size_t at = 1;
    body_ = parseBlock(lines, at, {{"end", lines.front()[1].text}});
  }

  // The handler's result for a text argument, as UTF-8.
  std::string callWithText(const std::string& argument) const {
    const Value result = call(Value{fromUtf8(argument)});
    const auto* text = std::get_if<std::u32string>(&result.v);
    if (!text) throw std::runtime_error("the handler did not return text");
    return toUtf8(*text);
  }

  Value call(Value argument) const {
    std::map<std::string, Value> variables{{parameter_, std::move(argument)}};
    std::optional<Value> result = run(body_, variables);
    if (!result) throw std::runtime_error("the handler returned nothing");
    return *result;
  }

 private:
  struct Token {
    enum class Kind { word, number, text, symbol } kind;
    std::string text;      // a word, a number's digits, a symbol
    std::u32string value;  // a text literal
  };
  using Line = std::vector<Token>;
  struct Statement;
  using Block = std::vector<Statement>;
  struct Statement {
    enum class Kind { set, doReturn, branches, repeatIn, repeatFromTo } kind;
    std::string variable;
    Line first, second;                       // the expressions
    std::vector<std::pair<Line, Block>> ifs;  // a condition (none for else) and its block
    Block body;
  };

  static std::u32string fromUtf8(const std::string& text) {
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
    std::u32string out;
    for (int32_t i = 0; i < unicode.length(); i = unicode.moveIndex32(i, 1)) out.push_back(unicode.char32At(i));
    return out;
  }
  static std::string toUtf8(const std::u32string& text) {
    icu::UnicodeString unicode;
    for (char32_t c : text) unicode.append(static_cast<UChar32>(c));
    std::string out;
    unicode.toUTF8String(out);
    return out;
  }

  static bool isWord(const Line& line, std::size_t i, const std::string& word) {
    return i < line.size() && line[i].kind == Token::Kind::word && line[i].text == word;
  }
  static bool isSymbol(const Line& line, std::size_t i, const std::string& symbol) {
    return i < line.size() && line[i].kind == Token::Kind::symbol && line[i].text == symbol;
  }
  static bool startsWith(const Line& line, const std::vector<std::string>& words) {
    for (std::size_t i = 0; i < words.size(); ++i) {
      if (!isWord(line, i, words[i])) return false;
    }
    return true;
  }

  static Line tokenize(const std::string& text) {
    const std::u32string s = fromUtf8(text);
    Line out;
    for (std::size_t i = 0; i < s.size();) {
      const char32_t c = s[i];
      const auto isLetter = [](char32_t x) { return (x >= 'a' && x <= 'z') || (x >= 'A' && x <= 'Z') || x == '_'; };
      const auto isDigit = [](char32_t x) { return x >= '0' && x <= '9'; };
      if (c == ' ' || c == '\t') {
        ++i;
      } else if (isLetter(c)) {
        std::string word;
        while (i < s.size() && (isLetter(s[i]) || isDigit(s[i]))) word.push_back(static_cast<char>(s[i++]));
        out.push_back({Token::Kind::word, word, {}});
      } else if (isDigit(c)) {
        std::string digits;
        while (i < s.size() && isDigit(s[i])) digits.push_back(static_cast<char>(s[i++]));
        out.push_back({Token::Kind::number, digits, {}});
      } else if (c == '"') {
        std::u32string value;
        for (++i;; ++i) {
          if (i >= s.size()) throw std::invalid_argument("an unclosed text in: " + text);
          if (s[i] == '"') break;
          if (s[i] == '\\' && i + 1 < s.size()) {
            const char32_t escaped = s[++i];
            const std::map<char32_t, char32_t> escapes{{'"', '"'}, {'\\', '\\'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'}};
            const auto found = escapes.find(escaped);
            if (found == escapes.end()) throw std::invalid_argument("an unknown escape in: " + text);
            value.push_back(found->second);
          } else {
            value.push_back(s[i]);
          }
        }
        ++i;
        out.push_back({Token::Kind::text, {}, value});
      } else if (std::u32string(U"&(){},<>=+-*").find(c) != std::u32string::npos) {
        out.push_back({Token::Kind::symbol, std::string(1, static_cast<char>(c)), {}});
        ++i;
      } else {
        throw std::invalid_argument("an unknown character in: " + text);
      }
    }
    return out;
  }

  static std::string lineText(const Line& line) {
    std::string out;
    for (const Token& t : line) out += (out.empty() ? "" : " ") + (t.kind == Token::Kind::text ? "\"...\"" : t.text);
    return out;
  }

  // The statements up to a line that begins with one of `ends` (left at `at`).
  Block parseBlock(const std::vector<Line>& lines, std::size_t& at,
                   const std::vector<std::vector<std::string>>& ends) const {
    Block block;
    for (; at < lines.size(); ++at) {
      for (const auto& end : ends) {
        if (startsWith(lines[at], end)) return block;
      }
      block.push_back(parseStatement(lines, at));
    }
    throw std::invalid_argument("a block without its end line");
  }

  Statement parseStatement(const std::vector<Line>& lines, std::size_t& at) const {
    const Line& line = lines[at];
    if (isWord(line, 0, "set")) {
      if (line.size() < 4 || !isWord(line, 2, "to")) throw std::invalid_argument("a set without to: " + lineText(line));
      return {Statement::Kind::set, line[1].text, Line(line.begin() + 3, line.end()), {}, {}, {}};
    }
    if (isWord(line, 0, "return")) return {Statement::Kind::doReturn, {}, Line(line.begin() + 1, line.end()), {}, {}, {}};
    if (isWord(line, 0, "if")) {
      Statement statement{Statement::Kind::branches, {}, {}, {}, {}, {}};
      const std::size_t then = thenAt(line);
      if (then + 1 < line.size()) {  // one line: if C then STATEMENT
        const std::vector<Line> rest{Line(line.begin() + then + 1, line.end())};
        std::size_t only = 0;
        statement.ifs.push_back({Line(line.begin() + 1, line.begin() + then), Block{parseStatement(rest, only)}});
        return statement;
      }
      Line condition(line.begin() + 1, line.begin() + then);
      for (;;) {
        ++at;
        Block block = parseBlock(lines, at, {{"else"}, {"end", "if"}});
        statement.ifs.push_back({condition, std::move(block)});
        const Line& next = lines[at];
        if (isWord(next, 0, "end")) return statement;
        if (isWord(next, 1, "if")) {
          condition = Line(next.begin() + 2, next.begin() + thenAt(next));
        } else {
          ++at;
          statement.ifs.push_back({Line{}, parseBlock(lines, at, {{"end", "if"}})});
          return statement;
        }
      }
    }
    if (isWord(line, 0, "repeat") && isWord(line, 1, "with") && line.size() > 4) {
      Statement statement{Statement::Kind::repeatIn, line[2].text, {}, {}, {}, {}};
      const auto from = line.begin() + 4;
      if (isWord(line, 3, "in")) {
        statement.first = Line(from, line.end());
      } else if (isWord(line, 3, "from")) {
        statement.kind = Statement::Kind::repeatFromTo;
        std::size_t to = 4;
        while (to < line.size() && !isWord(line, to, "to")) ++to;
        statement.first = Line(from, line.begin() + static_cast<std::ptrdiff_t>(std::min(to, line.size())));
        if (to >= line.size()) throw std::invalid_argument("a repeat without to: " + lineText(line));
        statement.second = Line(line.begin() + static_cast<std::ptrdiff_t>(to) + 1, line.end());
      } else {
        throw std::invalid_argument("an unknown repeat: " + lineText(line));
      }
      ++at;
      statement.body = parseBlock(lines, at, {{"end", "repeat"}});
      return statement;
    }
    throw std::invalid_argument("an unknown statement: " + lineText(line));
  }

  static std::size_t thenAt(const Line& line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (isWord(line, i, "then")) return i;
    }
    throw std::invalid_argument("an if without then: " + lineText(line));
  }

  // The block's returned value, if it returned.
  std::optional<Value> run(const Block& block, std::map<std::string, Value>& variables) const {
    for (const Statement& s : block) {
      switch (s.kind) {
        case Statement::Kind::set:
          variables[s.variable] = evaluate(s.first, variables);
          break;
        case Statement::Kind::doReturn:
          return evaluate(s.first, variables);
        case Statement::Kind::branches:
          for (const auto& [condition, body] : s.ifs) {
            if (!condition.empty() && !asBoolean(evaluate(condition, variables))) continue;
            if (auto result = run(body, variables)) return result;
            break;
          }
          break;
        case Statement::Kind::repeatIn: {
          const Value list = evaluate(s.first, variables);
          const auto* items = std::get_if<std::vector<Value>>(&list.v);
          if (!items) throw std::runtime_error("repeat with ... in a value that is not a list");
          for (const Value& item : *items) {
            variables[s.variable] = item;
            if (auto result = run(s.body, variables)) return result;
          }
          break;
        }
        case Statement::Kind::repeatFromTo: {
          const std::int64_t first = asInteger(evaluate(s.first, variables));
          const std::int64_t last = asInteger(evaluate(s.second, variables));
          for (std::int64_t i = first; i <= last; ++i) {
            variables[s.variable] = Value{i};
            if (auto result = run(s.body, variables)) return result;
          }
          break;
        }
      }
    }
    return std::nullopt;
  }

  static std::int64_t asInteger(const Value& value) {
    if (const auto* n = std::get_if<std::int64_t>(&value.v)) return *n;
    throw std::runtime_error("not an integer");
  }
  static bool asBoolean(const Value& value) { return asInteger(value) != 0; }
  static const std::u32string& asText(const Value& value) {
    if (const auto* t = std::get_if<std::u32string>(&value.v)) return *t;
    throw std::runtime_error("not a text");
  }
  static Value boolean(bool b) { return Value{std::int64_t{b ? 1 : 0}}; }

  // Evaluates while it parses, from the lowest precedence up.
  class Expression {
   public:
    Expression(const Line& line, const std::map<std::string, Value>& variables) : line_(line), variables_(variables) {}

    Value whole() {
      Value value = equality();
      if (at_ != line_.size()) throw std::invalid_argument("an unknown expression: " + lineText(line_));
      return value;
    }

   private:
    bool word(const std::string& w) {
      if (!isWord(line_, at_, w)) return false;
      ++at_;
      return true;
    }
    bool symbol(const std::string& s) {
      if (!isSymbol(line_, at_, s)) return false;
      ++at_;
      return true;
    }

    Value equality() {
      Value left = comparison();
      for (;;) {
        if (word("is")) {
          const bool negated = word("not");
          const bool same = equal(left, comparison());
          left = boolean(same != negated);
        } else if (symbol("=")) {
          left = boolean(equal(left, comparison()));
        } else {
          return left;
        }
      }
    }
    static bool equal(const Value& a, const Value& b) {
      const auto named = [](const Value& v) -> Value {  // string is text's other name
        if (const auto* c = std::get_if<ClassName>(&v.v); c && c->name == "string") return Value{ClassName{"text"}};
        return v;
      };
      return named(a) == named(b);
    }
    Value comparison() {
      Value left = coercion();
      for (;;) {
        if (symbol("<")) {
          left = boolean(asInteger(left) < asInteger(coercion()));
        } else if (symbol(">")) {
          left = boolean(asInteger(left) > asInteger(coercion()));
        } else {
          return left;
        }
      }
    }
    Value coercion() {
      Value value = concatenation();
      while (word("as")) {
        if (!word("string") && !word("text")) throw std::invalid_argument("an unknown coercion: " + lineText(line_));
        if (std::holds_alternative<std::u32string>(value.v)) continue;
        if (const auto* n = std::get_if<std::int64_t>(&value.v)) {
          const std::string digits = std::to_string(*n);
          value = Value{std::u32string(digits.begin(), digits.end())};
        } else if (std::holds_alternative<Missing>(value.v)) {
          value = Value{std::u32string(U"missing value")};
        } else {
          throw std::runtime_error("cannot make a text of this value");
        }
      }
      return value;
    }
    Value concatenation() {
      Value left = additive();
      while (symbol("&")) {
        const Value right = additive();
        if (auto* list = std::get_if<std::vector<Value>>(&left.v)) {
          if (const auto* more = std::get_if<std::vector<Value>>(&right.v)) {
            list->insert(list->end(), more->begin(), more->end());
          } else {
            list->push_back(right);
          }
          continue;
        }
        std::u32string text = asText(left);
        if (const auto* n = std::get_if<std::int64_t>(&right.v)) {
          const std::string digits = std::to_string(*n);
          text += std::u32string(digits.begin(), digits.end());
        } else {
          text += asText(right);
        }
        left = Value{text};
      }
      return left;
    }
    Value additive() {
      Value left = multiplicative();
      for (;;) {
        if (symbol("+")) {
          left = Value{asInteger(left) + asInteger(multiplicative())};
        } else if (symbol("-")) {
          left = Value{asInteger(left) - asInteger(multiplicative())};
        } else {
          return left;
        }
      }
    }
    Value multiplicative() {
      Value left = unary();
      for (;;) {
        if (symbol("*")) {
          left = Value{asInteger(left) * asInteger(unary())};
        } else if (word("div")) {
          left = Value{asInteger(left) / nonZero(unary())};
        } else if (word("mod")) {
          left = Value{asInteger(left) % nonZero(unary())};
        } else {
          return left;
        }
      }
    }
    static std::int64_t nonZero(const Value& value) {
      const std::int64_t n = asInteger(value);
      if (n == 0) throw std::runtime_error("division by zero");
      return n;
    }
    Value unary() {
      if (symbol("-")) return Value{-asInteger(unary())};
      return primary();
    }

    Value primary() {
      if (at_ >= line_.size()) throw std::invalid_argument("an expression ends early: " + lineText(line_));
      const Token& token = line_[at_];
      if (token.kind == Token::Kind::number) {
        ++at_;
        return Value{std::int64_t{std::stoll(token.text)}};
      }
      if (token.kind == Token::Kind::text) {
        ++at_;
        return Value{token.value};
      }
      if (symbol("(")) {
        Value value = equality();
        if (!symbol(")")) throw std::invalid_argument("an unclosed parenthesis: " + lineText(line_));
        return value;
      }
      if (symbol("{")) {
        std::vector<Value> items;
        if (!symbol("}")) {
          do items.push_back(equality());
          while (symbol(","));
          if (!symbol("}")) throw std::invalid_argument("an unclosed list: " + lineText(line_));
        }
        return Value{items};
      }
      if (word("missing")) {
        if (!word("value")) throw std::invalid_argument("missing without value: " + lineText(line_));
        return Value{Missing{}};
      }
      if (word("character")) {
        if (word("id")) return Value{std::u32string(1, static_cast<char32_t>(asInteger(unary())))};
        const std::int64_t index = asInteger(unary());
        if (!word("of")) throw std::invalid_argument("character without of: " + lineText(line_));
        const std::u32string text = asText(unary());
        if (index < 1 || index > static_cast<std::int64_t>(text.size())) throw std::runtime_error("no such character");
        return Value{text.substr(static_cast<std::size_t>(index - 1), 1)};
      }
      for (const char* property : {"id", "length", "contents", "class"}) {
        if (isWord(line_, at_, property) && isWord(line_, at_ + 1, "of")) {
          at_ += 2;
          return propertyOf(property, unary());
        }
      }
      if (token.kind == Token::Kind::word) {
        ++at_;
        if (const auto found = variables_.find(token.text); found != variables_.end()) return found->second;
        for (const char* name : {"list", "integer", "text", "string"}) {
          if (token.text == name) return Value{ClassName{name}};
        }
        throw std::runtime_error("an unset variable: " + token.text);
      }
      throw std::invalid_argument("an unknown expression: " + lineText(line_));
    }

    static Value propertyOf(const std::string& property, const Value& value) {
      if (property == "contents") return value;  // the item a loop variable refers to
      if (property == "class") {
        if (std::holds_alternative<std::vector<Value>>(value.v)) return Value{ClassName{"list"}};
        if (std::holds_alternative<std::int64_t>(value.v)) return Value{ClassName{"integer"}};
        if (std::holds_alternative<std::u32string>(value.v)) return Value{ClassName{"text"}};
        throw std::runtime_error("class of an unknown value");
      }
      if (property == "length") {
        if (const auto* list = std::get_if<std::vector<Value>>(&value.v)) return Value{std::int64_t(list->size())};
        return Value{static_cast<std::int64_t>(asText(value).size())};
      }
      const std::u32string& text = asText(value);  // id
      if (text.size() == 1) return Value{std::int64_t{text[0]}};
      std::vector<Value> ids;
      for (char32_t c : text) ids.push_back(Value{std::int64_t{c}});
      return Value{ids};
    }

    const Line& line_;
    const std::map<std::string, Value>& variables_;
    std::size_t at_ = 0;
  };

  Value evaluate(const Line& line, const std::map<std::string, Value>& variables) const {
    return Expression(line, variables).whole();
  }

  std::string parameter_;
  Block body_;
};

}  // namespace qd::test
