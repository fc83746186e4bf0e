#include "config/dialog/form_script.h"

#include <cctype>
#include <stdexcept>
#include <vector>

namespace {

enum class Tok { kIdent, kNumber, kString, kSymbol, kEnd };

struct Token {
  Tok kind;
  std::string text;
  int line, col;
  int end_line, end_col;  // just after the token
};

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<Token> Tokenize(std::string_view src) {
  std::vector<Token> out;
  int line = 1, col = 1;
  size_t i = 0;
  auto advance = [&](size_t n) {
    for (size_t k = 0; k < n; ++k, ++i) {
      if (src[i] == '\n') {
        ++line;
        col = 1;
      } else {
        ++col;
      }
    }
  };
  while (i < src.size()) {
    const char c = src[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      advance(1);
      continue;
    }
    if (c == '/' && i + 1 < src.size() && src[i + 1] == '/') {
      while (i < src.size() && src[i] != '\n')
        advance(1);
      continue;
    }
    Token t{Tok::kSymbol, "", line, col, 0, 0};
    size_t n = 1;
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      while (i + n < src.size() &&
             (std::isalnum(static_cast<unsigned char>(src[i + n])) || src[i + n] == '_'))
        ++n;
      t.kind = Tok::kIdent;
      t.text = std::string(src.substr(i, n));
    } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '$') {
      while (i + n < src.size() && std::isxdigit(static_cast<unsigned char>(src[i + n])))
        ++n;
      t.kind = Tok::kNumber;
      t.text = std::string(src.substr(i, n));
    } else if (c == '\'') {
      // Pascal literal: a doubled quote stands for one.
      for (;;) {
        if (i + n >= src.size() || src[i + n] == '\n')
          throw std::runtime_error("unterminated string");
        if (src[i + n] == '\'') {
          if (i + n + 1 < src.size() && src[i + n + 1] == '\'') {
            n += 2;
            continue;
          }
          ++n;
          break;
        }
        ++n;
      }
      t.kind = Tok::kString;
      t.text = std::string(src.substr(i, n));
    } else {
      static const char* const kTwo[] = {":=", "<>", "<=", ">="};
      for (const char* two : kTwo) {
        if (src.substr(i, 2) == two) n = 2;
      }
      t.text = std::string(src.substr(i, n));
    }
    advance(n);
    t.end_line = line;
    t.end_col = col;
    out.push_back(std::move(t));
  }
  out.push_back(Token{Tok::kEnd, "", line, col, line, col});
  return out;
}

std::string Escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Pos(int line, int col) {
  return std::to_string(line) + ":" + std::to_string(col);
}

class Parser {
 public:
  explicit Parser(std::vector<Token> toks) : t_(std::move(toks)) {}

  std::string Program() {
    std::string body;
    const Token& first = Cur();
    while (true) {
      if (IsWord("const")) {
        Next();
        while (Cur().kind == Tok::kIdent && !IsKeyword())
          body += Const();
      } else if (IsWord("var")) {
        Next();
        body += VarSection();
      } else if (IsWord("procedure")) {
        body += Procedure();
      } else {
        break;
      }
    }
    const Token& begin = Cur();
    Expect("begin");
    Expect("end");
    Expect(".");
    body += "<compoundstmt pos=\"" + Pos(begin.line, begin.col) + "\"/>";
    body += "<types pos=\"" + Pos(begin.line, begin.col) + "\"/>";
    if (Cur().kind != Tok::kEnd) Fail("text after the end of the program");
    return "<?xml version=\"1.0\"?><program pos=\"" + Pos(first.line, first.col) + "\">" + body +
           "</program>";
  }

 private:
  const Token& Cur() const { return t_[p_]; }
  const Token& Prev() const { return t_[p_ - 1]; }
  void Next() {
    if (t_[p_].kind != Tok::kEnd) ++p_;
  }
  bool IsWord(const char* w) const { return Cur().kind == Tok::kIdent && Lower(Cur().text) == w; }
  bool IsSym(const char* s) const { return Cur().kind == Tok::kSymbol && Cur().text == s; }
  bool IsKeyword() const {
    static const char* const kWords[] = {"begin", "end",  "var",  "const", "procedure",
                                         "if",    "then", "else", "not"};
    for (const char* w : kWords) {
      if (IsWord(w)) return true;
    }
    return false;
  }
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("form script " + Pos(Cur().line, Cur().col) + ": " + what);
  }
  void Expect(const char* s) {
    if (Cur().kind == Tok::kIdent ? Lower(Cur().text) == s : Cur().text == s) {
      Next();
      return;
    }
    Fail(std::string("'") + s + "' expected");
  }
  std::string Leaf(const char* tag, const Token& tok) {
    return "<" + std::string(tag) + " pos=\"" + Pos(tok.line, tok.col) + "\" text=\"" +
           Escape(tok.text) + "\"/>";
  }
  std::string Ident(const char* tag) {
    if (Cur().kind != Tok::kIdent) Fail("identifier expected");
    std::string s = Leaf(tag, Cur());
    Next();
    return s;
  }

  std::string Const() {
    const Token& at = Cur();
    std::string s = "<const pos=\"" + Pos(at.line, at.col) + "\">" + Ident("ident");
    Expect("=");
    s += Expr();
    Expect(";");
    return s + "</const>";
  }

  // "a, b: T;" lines up to the next section.
  std::string VarSection() {
    std::string s;
    while (Cur().kind == Tok::kIdent && !IsKeyword())
      s += VarDecl(true);
    return s;
  }

  std::string VarDecl(bool semicolon) {
    std::vector<Token> names{Cur()};
    Next();
    while (IsSym(",")) {
      Next();
      names.push_back(Cur());
      Next();
    }
    Expect(":");
    if (Cur().kind != Tok::kIdent) Fail("type expected");
    const Token type = Cur();
    Next();
    if (semicolon) Expect(";");
    std::string s;
    for (const auto& n : names) {
      s += "<var pos=\"" + Pos(n.line, n.col) + "\">" + Leaf("ident", n) + Leaf("type", type) +
           "</var>";
    }
    return s;
  }

  std::string Procedure() {
    const Token& at = Cur();
    Expect("procedure");
    std::string s = "<procedure pos=\"" + Pos(at.line, at.col) + "\">" + Ident("name");
    const Token& params_at = Cur();
    std::string params;
    if (IsSym("(")) {
      Next();
      while (!IsSym(")")) {
        params += VarDecl(false);
        if (IsSym(";"))
          Next();
        else if (!IsSym(")"))
          Fail("')' expected");
      }
      Next();
    }
    s += "<parameters pos=\"" + Pos(params_at.line, params_at.col) + "\">" + params +
         "</parameters>";
    Expect(";");
    if (IsWord("var")) {
      Next();
      s += VarSection();
    }
    s += Compound();
    Expect(";");
    return s + "</procedure>";
  }

  std::string Compound() {
    const Token& at = Cur();
    Expect("begin");
    std::string s = "<compoundstmt pos=\"" + Pos(at.line, at.col) + "\">";
    while (!IsWord("end")) {
      s += Statement();
      if (IsSym(";"))
        Next();
      else if (!IsWord("end"))
        Fail("';' expected");
    }
    Next();
    return s + "</compoundstmt>";
  }

  std::string Statement() {
    if (IsWord("begin")) return Compound();
    if (IsWord("if")) {
      const Token& at = Cur();
      Next();
      std::string s = "<ifstmt pos=\"" + Pos(at.line, at.col) + "\">" + Expr();
      const Token& then_at = Cur();
      Expect("then");
      s +=
          "<thenstmt pos=\"" + Pos(then_at.line, then_at.col) + "\">" + Statement() + "</thenstmt>";
      if (IsWord("else")) {
        const Token& else_at = Cur();
        Next();
        s += "<elsestmt pos=\"" + Pos(else_at.line, else_at.col) + "\">" + Statement() +
             "</elsestmt>";
      }
      return s + "</ifstmt>";
    }
    const Token& at = Cur();
    std::string target = Designator();
    if (IsSym(":=")) {
      Next();
      return "<assignstmt pos=\"" + Pos(at.line, at.col) + "\">" + target + Expr() +
             "</assignstmt>";
    }
    return "<callstmt pos=\"" + Pos(at.line, at.col) + "\">" + target + "</callstmt>";
  }

  std::string Span(const char* tag, const Token& from, const std::string& inner) {
    const Token& last = Prev();
    return "<" + std::string(tag) + " pos=\"" + Pos(from.line, from.col) + "\" pos1=\"" +
           Pos(last.end_line, last.end_col) + "\">" + inner + "</" + tag + ">";
  }

  // Operands and operators in source order.
  std::string Expr() {
    const Token& at = Cur();
    std::string inner;
    for (;;) {
      while (IsWord("not") || IsSym("-"))
        inner += Op();
      inner += Operand();
      if (IsSym("+") || IsSym("-") || IsSym("*") || IsSym("/") || IsSym("=") || IsSym("<>") ||
          IsSym("<") || IsSym(">") || IsSym("<=") || IsSym(">=") || IsWord("and") || IsWord("or") ||
          IsWord("div") || IsWord("mod")) {
        inner += Op();
        continue;
      }
      break;
    }
    return Span("expr", at, inner);
  }

  std::string Op() {
    const Token& tok = Cur();
    Next();
    return "<op pos=\"" + Pos(tok.line, tok.col) + "\" pos1=\"" + Pos(tok.end_line, tok.end_col) +
           "\" text=\"" + Escape(tok.text) + "\"/>";
  }

  std::string Operand() {
    const Token& tok = Cur();
    if (tok.kind == Tok::kString || tok.kind == Tok::kNumber) {
      Next();
      const char* tag = tok.kind == Tok::kString ? "string" : "number";
      return "<" + std::string(tag) + " pos=\"" + Pos(tok.line, tok.col) + "\" pos1=\"" +
             Pos(tok.end_line, tok.end_col) + "\" text=\"" + Escape(tok.text) + "\"/>";
    }
    if (IsSym("(")) {
      Next();
      std::string e = Expr();
      Expect(")");
      return e;
    }
    if (IsSym("[")) {
      Next();
      std::string inner;
      while (!IsSym("]")) {
        inner += Expr();
        if (IsSym(","))
          Next();
        else if (!IsSym("]"))
          Fail("']' expected");
      }
      Next();
      return Span("set", tok, inner);
    }
    return Designator();
  }

  std::string Designator() {
    const Token& at = Cur();
    std::string inner;
    if (IsSym("@")) {
      inner += "<addr pos=\"" + Pos(at.line, at.col) + "\" text=\"@\"/>";
      Next();
    }
    for (;;) {
      if (Cur().kind != Tok::kIdent || IsKeyword()) Fail("identifier expected");
      const Token& name = Cur();
      Next();
      std::string args;
      while (IsSym("(")) {
        Next();
        while (!IsSym(")")) {
          args += Expr();
          if (IsSym(","))
            Next();
          else if (!IsSym(")"))
            Fail("')' expected");
        }
        Next();
      }
      if (args.empty())
        inner += Leaf("node", name);
      else
        inner += "<node pos=\"" + Pos(name.line, name.col) + "\" text=\"" + Escape(name.text) +
                 "\">" + args + "</node>";
      if (!IsSym(".")) break;
      Next();
    }
    return Span("dsgn", at, inner);
  }

  std::vector<Token> t_;
  size_t p_ = 0;
};

}  // namespace

std::string FormScriptToXml(std::string_view source) {
  return Parser(Tokenize(source)).Program();
}
