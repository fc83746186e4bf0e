#include "config/xml/dov_xml_tree.h"

#include <utility>

#include "base/trim.h"
#include "platform/strings.h"

namespace {

constexpr size_t npos = std::string_view::npos;

// Line breaks (CR LF after normalisation) and TABs become blanks; the ends
// are trimmed; runs of blanks inside stay.
std::string TagNormalise(std::string_view s) {
  s = TrimControls(s);
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
      out += ' ';
      ++i;
    } else if (s[i] == '\t') {
      out += ' ';
    } else {
      out += s[i];
    }
  }
  return out;
}

// The dialog writes "\n " and "\t " for line breaks and TABs in free text.
std::string EscapeExpand(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 2 < s.size() && s[i + 2] == ' ') {
      if (s[i + 1] == 'n') {
        out += "\r\n";
        i += 2;
        continue;
      }
      if (s[i + 1] == 't') {
        out += '\t';
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

bool StartsWithNoCase(std::string_view s, size_t at, std::string_view prefix) {
  return s.size() - at >= prefix.size() &&
         platform::SameTextAscii(s.substr(at, prefix.size()), prefix);
}

// One pass: the text a reference yields is never looked at again.
std::string DecodeEntities(std::string_view s) {
  static constexpr std::pair<std::string_view, char> kRefs[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&apos;", '\''}, {"&quot;", '"'}};
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const size_t amp = s.find('&', i);
    if (amp == npos) {
      out.append(s.substr(i));
      break;
    }
    out.append(s.substr(i, amp - i));
    i = amp + 1;
    char decoded = '&';
    for (const auto& [ref, ch] : kRefs) {
      if (StartsWithNoCase(s, amp, ref)) {
        decoded = ch;
        i = amp + ref.size();
        break;
      }
    }
    out += decoded;
  }
  return out;
}

// Every line break becomes CR LF, and the last line gets one too.
std::string NormaliseLineBreaks(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 32 + 2);
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\r') {
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() != '\n') out += "\r\n";
  return out;
}

enum class TokenKind { Open, Empty, Close, Text, CData };

class Builder {
 public:
  explicit Builder(TdovXMLTree* tree) : tree_(tree), current_(tree) {}

  void Token(TokenKind kind, std::string content) {
    if (!started_) {
      tree_->SetName("root");
      started_ = true;
    }
    switch (kind) {
      case TokenKind::Open:
        current_ = MakeNode(content, false);
        break;
      case TokenKind::Empty:
        MakeNode(content, true);
        break;
      case TokenKind::Close:
        // The name is not compared; surplus end tags stay at the tree.
        if (current_->Parent()) current_ = current_->Parent();
        break;
      case TokenKind::Text:
        current_->SetText(DecodeEntities(content));
        current_->SetCData(false);
        break;
      case TokenKind::CData:
        current_->SetText(std::move(content));
        current_->SetCData(true);
        break;
    }
  }

 private:
  TdovXMLNode* MakeNode(std::string_view content, bool empty_tag) {
    if (empty_tag) content.remove_suffix(1);
    const size_t blank = content.find(' ');
    TdovXMLNode* node = current_->AddChild(std::string(content.substr(0, blank)));
    if (blank == npos) return node;
    size_t q = blank;
    while (q < content.size()) {
      const size_t eq = content.find('=', q);
      if (eq == npos) break;
      const size_t sq = content.find('\'', eq + 1);
      const size_t dq = content.find('"', eq + 1);
      if (sq == npos && dq == npos) break;
      const size_t open = sq < dq ? sq : dq;
      const size_t close = content.find(content[open], open + 1);
      if (close == npos) break;
      node->AddAttribute(std::string(TrimControls(content.substr(q, eq - q))),
                         DecodeEntities(content.substr(open + 1, close - open - 1)));
      q = close + 1;
    }
    return node;
  }

  TdovXMLTree* tree_;
  TdovXMLNode* current_;
  bool started_ = false;
};

class Tokenizer {
 public:
  Tokenizer(std::string_view text, Builder* builder) : s_(text), out_(builder) {}

  void Run() {
    size_t p = 0;
    const size_t n = s_.size();
    while (p < n) {
      const size_t lt = s_.find('<', p);
      if (lt == npos) {
        EmitText(s_.substr(p));
        return;
      }
      EmitText(s_.substr(p, lt - p));
      if (StartsWithNoCase(s_, lt, "<![CDATA[")) {
        p = Section(lt, 9, "]]>", [this](std::string_view inner) {
          out_->Token(TokenKind::CData, EscapeExpand(inner));
        });
      } else if (s_.compare(lt, 2, "<?") == 0) {
        p = Section(lt, 2, "?>", [this](std::string_view inner) {
          if (!inner.empty()) out_->Token(TokenKind::Text, std::string(inner));
        });
      } else if (s_.compare(lt, 4, "<!--") == 0) {
        p = Section(lt, 4, "-->", [this](std::string_view inner) {
          out_->Token(TokenKind::Text, EscapeExpand(inner));
        });
      } else {
        const size_t gt = TagEnd(lt);
        if (gt == npos) {
          p = lt + 1;  // a stray "<"
          continue;
        }
        EmitTag(s_.substr(lt + 1, gt - lt - 1));
        p = gt + 1;
      }
    }
  }

 private:
  void EmitText(std::string_view raw) {
    std::string text = TagNormalise(raw);
    if (!text.empty()) out_->Token(TokenKind::Text, std::move(text));
  }

  void EmitTag(std::string_view content) {
    if (content.empty()) return;
    if (content.front() == '/')
      out_->Token(TokenKind::Close, TagNormalise(content.substr(1)));
    else if (content.back() == '/')
      out_->Token(TokenKind::Empty, TagNormalise(content));
    else
      out_->Token(TokenKind::Open, TagNormalise(content));
  }

  // A marked section; unterminated, it runs to the end of the text. Returns
  // where scanning resumes.
  template <typename Emit>
  size_t Section(size_t start, size_t marker, std::string_view terminator, Emit emit) {
    const size_t inner = start + marker;
    const size_t end = s_.find(terminator, inner);
    if (end == npos) {
      emit(s_.substr(inner));
      return s_.size();
    }
    emit(s_.substr(inner, end - inner));
    return end + terminator.size();
  }

  // The first ">" after lt outside quotes, or npos.
  size_t TagEnd(size_t lt) {
    if (memo_ready_) return Memoised(lt);
    char quote = 0;
    for (size_t i = lt + 1; i < s_.size(); ++i) {
      const char c = s_[i];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '>') {
        return i;
      } else if (c == '"' || c == '\'') {
        quote = c;
      }
    }
    // The rest of the text is malformed. Scanning afresh from every later
    // "<" could then cost quadratic time, so work out the answer for each of
    // them in one backward pass: the first unquoted ">" from a position,
    // starting outside, inside "..." or inside '...'.
    size_t out = npos, in_dq = npos, in_sq = npos;
    for (size_t i = s_.size(); i-- > lt;) {
      const char c = s_[i];
      const size_t o = c == '>' ? i : c == '"' ? in_dq : c == '\'' ? in_sq : out;
      if (c == '"') in_dq = out;
      if (c == '\'') in_sq = out;
      out = o;
      if (c == '<') memo_.emplace_back(i, o);
    }
    memo_ready_ = true;
    memo_next_ = memo_.size();  // the entries run from the end of the text backwards
    return Memoised(lt);
  }

  size_t Memoised(size_t lt) {
    while (memo_next_ > 0 && memo_[memo_next_ - 1].first < lt)
      --memo_next_;
    if (memo_next_ > 0 && memo_[memo_next_ - 1].first == lt) return memo_[memo_next_ - 1].second;
    return npos;
  }

  std::string_view s_;
  Builder* out_;
  std::vector<std::pair<size_t, size_t>> memo_;
  size_t memo_next_ = 0;
  bool memo_ready_ = false;
};

}  // namespace

TdovXMLNode::TdovXMLNode(std::string name, std::string value, TdovXMLNode* parent)
    : name_(std::move(name)), text_(std::move(value)), parent_(parent) {}

TdovXMLNode::~TdovXMLNode() {
  ClearChildren();
}

TdovXMLNode* TdovXMLNode::AddChild(std::string name) {
  children_.push_back(std::make_unique<TdovXMLNode>(std::move(name), std::string(), this));
  return children_.back().get();
}

TdovXMLAttribute& TdovXMLNode::AddAttribute(std::string name, std::string value) {
  attributes_.push_back(std::make_unique<TdovXMLAttribute>(std::move(name), std::move(value)));
  return *attributes_.back();
}

void TdovXMLNode::ClearChildren() {
  // Detach whole levels into a work list so that no destructor recurses:
  // each node dies only after its children were moved out.
  std::vector<std::unique_ptr<TdovXMLNode>> pending = std::move(children_);
  children_.clear();
  while (!pending.empty()) {
    std::unique_ptr<TdovXMLNode> node = std::move(pending.back());
    pending.pop_back();
    for (auto& child : node->children_)
      pending.push_back(std::move(child));
    node->children_.clear();
  }
}

TdovXMLNode* TdovXMLNode::FindDescendant(std::string_view name) const {
  std::vector<std::pair<const TdovXMLNode*, size_t>> stack;
  stack.emplace_back(this, 0);
  while (!stack.empty()) {
    const TdovXMLNode* node = stack.back().first;
    const size_t index = stack.back().second;
    if (index == node->children_.size()) {
      stack.pop_back();
      continue;
    }
    ++stack.back().second;
    TdovXMLNode* child = node->children_[index].get();
    if (platform::SameTextAscii(child->name_, name)) return child;
    if (!child->children_.empty()) stack.emplace_back(child, 0);
  }
  return nullptr;
}

TdovXMLNode* TdovXMLNode::FindChild(std::string_view name) const {
  for (const auto& child : children_)
    if (platform::SameTextAscii(child->name_, name)) return child.get();
  return nullptr;
}

const TdovXMLAttribute* TdovXMLNode::FindAttribute(std::string_view name) const {
  for (const auto& attribute : attributes_)
    if (attribute->Name == name) return attribute.get();
  return nullptr;
}

std::string TdovXMLNode::AttributeValue(std::string_view name, std::string_view fallback) const {
  const TdovXMLAttribute* attribute = FindAttribute(name);
  if (attribute && !attribute->Value.empty()) return attribute->Value;
  return std::string(fallback);
}

void TdovXMLTree::SetXML(std::string_view text) {
  ClearChildren();
  ClearAttributes();
  SetText(std::string());
  SetCData(false);
  const std::string normalised = NormaliseLineBreaks(text);
  Builder builder(this);
  Tokenizer(normalised, &builder).Run();
}
