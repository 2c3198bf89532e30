#include "support/ini_corpus.h"

#include <charconv>
#include <fstream>
#include <string_view>

namespace skav::test {

namespace {

struct Token {
  bool quoted = false;
  std::string text;
};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits a line into bare words and double-quoted strings with C escapes.
bool tokenize(std::string_view line, std::vector<Token>& tokens) {
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    Token token;
    if (line[i] != '"') {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') token.text.push_back(line[i++]);
      tokens.push_back(std::move(token));
      continue;
    }
    token.quoted = true;
    for (++i;; ++i) {
      if (i >= line.size()) return false;
      char c = line[i];
      if (c == '"') break;
      if (c != '\\') {
        token.text.push_back(c);
        continue;
      }
      if (++i >= line.size()) return false;
      static constexpr std::string_view kEscaped = "\\\"trn";
      static constexpr std::string_view kMeant = "\\\"\t\r\n";
      if (std::size_t k = kEscaped.find(line[i]); k != std::string_view::npos) {
        token.text.push_back(kMeant[k]);
        continue;
      }
      if (line[i] != 'x' || i + 2 >= line.size()) return false;
      int high = hex_digit(line[i + 1]);
      int low = hex_digit(line[i + 2]);
      if (high < 0 || low < 0) return false;
      token.text.push_back(static_cast<char>(high << 4 | low));
      i += 2;
    }
    ++i;
    tokens.push_back(std::move(token));
  }
  return true;
}

bool number(const Token& token, std::uint32_t& out) {
  if (token.quoted || token.text.empty()) return false;
  std::string_view s = token.text;
  int base = 10;
  if (s.substr(0, 2) == "0x") {
    base = 16;
    s.remove_prefix(2);
  }
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
  return ec == std::errc() && end == s.data() + s.size();
}

bool parse_query(const std::vector<Token>& t, IniQuery& q) {
  if (t.size() < 2 || t[0].quoted || t[1].quoted) return false;
  q.file = t[1].text;
  std::size_t next = 0;
  if (t[0].text == "text") {
    q.kind = IniQuery::Kind::kText;
    std::uint32_t size = 0;
    if (t.size() < 7 || !t[2].quoted || !t[3].quoted || !t[4].quoted || !number(t[5], size) ||
        size == 0 || !t[6].quoted)
      return false;
    q.section = t[2].text;
    q.key = t[3].text;
    q.text_default = t[4].text;
    q.size = size;
    q.expected_text = t[6].text;
    next = 7;
  } else if (t[0].text == "int") {
    q.kind = IniQuery::Kind::kInt;
    if (t.size() < 6 || !t[2].quoted || !t[3].quoted || !number(t[4], q.int_default) ||
        !number(t[5], q.expected_int))
      return false;
    q.section = t[2].text;
    q.key = t[3].text;
    next = 6;
  } else {
    return false;
  }
  if (next < t.size() && !t[next].quoted && t[next].text == "decided") {
    q.decided = true;
    ++next;
  }
  return next == t.size();
}

}  // namespace

bool load_ini_corpus(const std::filesystem::path& index, std::vector<IniQuery>& queries,
                     std::string& error) {
  std::ifstream in(index, std::ios::binary);
  if (!in) {
    error = "cannot read " + index.string();
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::vector<Token> tokens;
    if (!tokenize(line, tokens)) {
      error = index.filename().string() + ":" + std::to_string(number) + ": bad quoting";
      return false;
    }
    IniQuery query;
    query.line = number;
    if (!parse_query(tokens, query)) {
      error = index.filename().string() + ":" + std::to_string(number) + ": not a query";
      return false;
    }
    queries.push_back(std::move(query));
  }
  return true;
}

}  // namespace skav::test
