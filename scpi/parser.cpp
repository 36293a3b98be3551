#include "scpi/parser.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <string>

#include "measurement/float_chars.h"

namespace capmeter::scpi {

namespace {

bool IsSpace(char c) {
  return c != '\n' && static_cast<unsigned char>(c) <= 0x20;
}
bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string Upper(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return Upper(c); });
  return upper;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

Error Mistake(int code, std::string_view detail = {}) {
  return {code, std::string(detail)};
}

// Splits at `separator` outside quoted strings ("..." or '...', the quote
// doubled inside); none when a string is left open.
std::optional<std::vector<std::string_view>> SplitOutsideQuotes(std::string_view text,
                                                                char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  char quote = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;  // a doubled quote closes and opens again
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == separator) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  if (quote != 0) return std::nullopt;
  parts.push_back(text.substr(start));
  return parts;
}

// A node of a table header: "ERRor" matches ERR and ERROR in any case.
struct PatternNode {
  std::string_view name;
  bool optional = false;
};

struct Pattern {
  std::vector<PatternNode> nodes;
  bool query = false;
};

Pattern ReadPattern(std::string_view header) {
  Pattern pattern;
  if (header.ends_with('?')) {
    pattern.query = true;
    header.remove_suffix(1);
  }
  bool optional = false;
  std::size_t start = 0;
  const auto endNode = [&](std::size_t end) {
    if (end > start) pattern.nodes.push_back({header.substr(start, end - start), optional});
    start = end + 1;
  };
  for (std::size_t i = 0; i < header.size(); ++i) {
    const char c = header[i];
    if (c == '[' || c == ']' || c == ':') {
      endNode(i);
      if (c != ':') optional = c == '[';
    }
  }
  endNode(header.size());
  return pattern;
}

bool NodeMatches(std::string_view given, std::string_view name) {
  return given == Upper(name) || given == ShortForm(name);
}

bool Matches(std::span<const std::string> given, std::span<const PatternNode> nodes) {
  if (nodes.empty()) return given.empty();
  if (!given.empty() && NodeMatches(given.front(), nodes.front().name) &&
      Matches(given.subspan(1), nodes.subspan(1))) {
    return true;
  }
  return nodes.front().optional && Matches(given, nodes.subspan(1));
}

// The power of ten of each multiplier a suffix may start with.
std::optional<int> MultiplierExponent(std::string_view prefix) {
  static constexpr std::pair<std::string_view, int> kMultipliers[] = {
      {"", 0},   {"EX", 18}, {"PE", 15}, {"T", 12},  {"G", 9},   {"MA", 6},  {"K", 3},
      {"M", -3}, {"U", -6},  {"N", -9},  {"P", -12}, {"F", -15}, {"A", -18},
  };
  for (const auto& [text, exponent] : kMultipliers) {
    if (prefix == text) return exponent;
  }
  return std::nullopt;
}

std::string_view UnitSymbol(Unit unit) {
  switch (unit) {
    case Unit::Farad:
      return "F";
    case Unit::Second:
      return "S";
    case Unit::FaradPerSecond:
      return "F/S";
    case Unit::Hertz:
      return "HZ";
    case Unit::None:
      break;
  }
  return "";
}

// The power of ten a suffix scales by, or why it cannot be had.
struct Scale {
  int exponent = 0;
  std::optional<Error> error;
};

Scale ReadSuffix(std::string_view suffix, Unit unit) {
  if (suffix.empty()) return {};
  if (unit == Unit::None) return {0, Mistake(-138, suffix)};
  const std::string upper = Upper(suffix);
  // SCPI's one exception to M for milli.
  if (unit == Unit::Hertz && upper == "MHZ") return {6, {}};
  const std::string_view symbol = UnitSymbol(unit);
  if (upper.ends_with(symbol)) {
    if (const auto exponent =
            MultiplierExponent(std::string_view(upper).substr(0, upper.size() - symbol.size()))) {
      return {*exponent, {}};
    }
  }
  // A multiplier alone, as the command line takes "500k": the unit is the
  // command's anyway.
  if (const auto exponent = MultiplierExponent(upper)) return {*exponent, {}};
  return {0, Mistake(-131, suffix)};
}

struct Number {
  double value = 0.0;
  std::optional<Error> error;
};

// Decimal numeric data (NR1, NR2, NR3) with an optional suffix, or MIN, MAX,
// DEF.
Number ReadNumber(std::string_view text, const NumberRule& rule) {
  if (text.front() == '"' || text.front() == '\'') return {0, Mistake(-104, "a string")};
  if (IsLetter(text.front())) {
    const std::string word = Upper(text);
    if (word == "MIN" || word == "MINIMUM") return {rule.min, {}};
    if (word == "MAX" || word == "MAXIMUM") return {rule.max, {}};
    if (word == "DEF" || word == "DEFAULT") return {rule.byDefault, {}};
    return {0, Mistake(-224, text)};
  }
  std::size_t i = 0;
  const bool negative = text[i] == '-';
  if (text[i] == '+' || text[i] == '-') ++i;
  const std::size_t mantissaStart = i;
  bool digits = false;
  while (i < text.size() && (IsDigit(text[i]) || text[i] == '.')) {
    digits = digits || IsDigit(text[i]);
    ++i;
  }
  const std::string_view mantissa = text.substr(mantissaStart, i - mantissaStart);
  if (!digits || std::count(mantissa.begin(), mantissa.end(), '.') > 1) {
    return {0, Mistake(-102, text)};
  }
  long long exponent = 0;
  std::size_t beforeExponent = i;
  while (beforeExponent < text.size() && IsSpace(text[beforeExponent])) ++beforeExponent;
  if (beforeExponent < text.size() && Upper(text[beforeExponent]) == 'E') {
    // An exponent, unless the E begins a suffix such as EX.
    std::size_t j = beforeExponent + 1;
    while (j < text.size() && IsSpace(text[j])) ++j;
    bool negativeExponent = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) negativeExponent = text[j++] == '-';
    if (j < text.size() && IsDigit(text[j])) {
      for (; j < text.size() && IsDigit(text[j]); ++j) {
        exponent = std::min(exponent * 10 + (text[j] - '0'), 100'000LL);
      }
      if (negativeExponent) exponent = -exponent;
      i = j;
    }
  }
  const std::string_view suffix = Trim(text.substr(i));
  if (!std::all_of(suffix.begin(), suffix.end(), [](char c) { return IsLetter(c) || c == '/'; })) {
    return {0, Mistake(-102, text)};
  }
  const Scale scale = ReadSuffix(suffix, rule.unit);
  if (scale.error) return {0, scale.error};
  // Scaled in the text, so 4.7U is the double nearest 4.7e-6.
  std::string exact(negative ? "-" : "");
  exact.append(mantissa).append("e").append(std::to_string(exponent + scale.exponent));
  double value = 0.0;
  if (DoubleFromChars(exact.data(), exact.data() + exact.size(), value).ec != std::errc{}) {
    return {0, Mistake(-222, text)};  // beyond what a double holds
  }
  return {value, {}};
}

// One of `choices`, in long or short form and any case.
std::optional<Error> ReadChoice(std::string_view parameter,
                                std::span<const std::string_view> choices, ProgramUnit& unit) {
  if (!IsLetter(parameter.front())) return Mistake(-104, parameter);
  const std::string word = Upper(parameter);
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (NodeMatches(word, choices[i])) {
      unit.choice = i;
      return std::nullopt;
    }
  }
  return Mistake(-224, parameter);
}

std::optional<Error> ReadParameters(std::string_view text, const CommandRow& row,
                                    ProgramUnit& unit) {
  const std::optional<NumberRule>& rule = row.number;
  const bool takesOne = rule || !row.choices.empty();
  if (text.empty()) {
    return takesOne && !(rule && rule->optional) ? std::optional(Mistake(-109)) : std::nullopt;
  }
  if (!takesOne) return Mistake(-108, text);
  const auto parameters = SplitOutsideQuotes(text, ',');
  if (!parameters) return Mistake(-102, "a string left open");
  if (parameters->size() > 1) return Mistake(-108, text);
  const std::string_view parameter = Trim(parameters->front());
  if (parameter.empty()) return Mistake(-102, text);
  if (!rule) return ReadChoice(parameter, row.choices, unit);
  Number number = ReadNumber(parameter, *rule);
  if (number.error) return number.error;
  if (!(number.value >= rule->min && number.value <= rule->max)) return Mistake(-222, parameter);
  unit.number = rule->whole ? std::round(number.value) : number.value;
  return std::nullopt;
}

bool IsHeaderCharacter(char c) {
  return IsLetter(c) || IsDigit(c) || c == '_' || c == ':' || c == '*' || c == '?';
}

// The header's nodes in capitals; none when it is malformed.
std::optional<std::vector<std::string>> HeaderNodes(std::string_view header) {
  std::vector<std::string> nodes;
  for (std::size_t start = 0; start <= header.size();) {
    const std::size_t end = std::min(header.find(':', start), header.size());
    const std::string_view node = header.substr(start, end - start);
    if (node.empty() || !IsLetter(node.front()) ||
        !std::all_of(node.begin(), node.end(),
                     [](char c) { return IsLetter(c) || IsDigit(c) || c == '_'; })) {
      return std::nullopt;
    }
    nodes.push_back(Upper(node));
    start = end + 1;
  }
  return nodes;
}

}  // namespace

ParsedMessage ParseMessage(std::string_view line) {
  ParsedMessage message;
  if (line.ends_with('\r')) line.remove_suffix(1);
  const auto units = SplitOutsideQuotes(line, ';');
  if (!units) {
    message.error = Mistake(-102, "a string left open");
    return message;
  }
  std::vector<std::string> path;  // the header path that headers without ':' start from
  for (const std::string_view untrimmed : *units) {
    const std::string_view text = Trim(untrimmed);
    if (text.empty()) continue;
    const std::size_t headerEnd = std::min(
        static_cast<std::size_t>(std::find_if(text.begin(), text.end(), IsSpace) - text.begin()),
        text.size());
    std::string_view header = text.substr(0, headerEnd);
    const std::string_view parameters = Trim(text.substr(headerEnd));
    if (!std::all_of(header.begin(), header.end(), IsHeaderCharacter)) {
      message.error = Mistake(-102, header);
      return message;
    }
    const bool query = header.ends_with('?');
    const bool common = header.starts_with('*');
    std::string_view bare = header.substr(common ? 1 : 0);
    if (query) bare.remove_suffix(1);
    const bool absolute = !common && bare.starts_with(':');
    if (absolute) bare.remove_prefix(1);
    const auto nodes = HeaderNodes(bare);
    if (!nodes || (common && nodes->size() != 1)) {
      message.error = Mistake(-102, header);
      return message;
    }
    std::vector<std::string> full = absolute || common ? std::vector<std::string>{} : path;
    full.insert(full.end(), nodes->begin(), nodes->end());

    const CommandRow* found = nullptr;
    for (const CommandRow& row : CommandTable()) {
      const bool rowCommon = row.header.starts_with('*');
      if (rowCommon != common) continue;
      const Pattern pattern = ReadPattern(row.header.substr(common ? 1 : 0));
      if (pattern.query == query && Matches(full, pattern.nodes)) {
        found = &row;
        break;
      }
    }
    if (found == nullptr) {
      message.error = Mistake(-113, header);
      return message;
    }
    if (!common) path.assign(full.begin(), full.end() - 1);
    ProgramUnit unit{found->command, std::nullopt, std::nullopt};
    if (auto error = ReadParameters(parameters, *found, unit)) {
      message.error = std::move(error);
      return message;
    }
    message.units.push_back(unit);
  }
  return message;
}

}  // namespace capmeter::scpi
