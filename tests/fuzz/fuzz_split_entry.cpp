// Splitting reading entries: never crashes, keeps characters whole, honours the final-comma
// rule, and gives back any fields written in the quoted form.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "entry_format.h"
#include "sjis.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

// Splits text into Shift-JIS character units; true when the last one is a lone lead byte.
bool EndsInLoneLead(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (koe::IsLeadByte(static_cast<unsigned char>(text[i]))) {
      if (i + 1 == text.size()) return true;
      i += 2;
    } else {
      ++i;
    }
  }
  return false;
}

bool SafeUnquoted(const std::string& field) {
  if (field.empty() || field[0] == '"') return false;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(field[i]);
    if (koe::IsLeadByte(b)) {
      ++i;
    } else if ((b >= 0x01 && b <= 0x20) || b == ',') {
      return false;
    }
  }
  return true;
}

std::string Quoted(const std::string& field) {
  std::string q = "\"";
  for (std::size_t i = 0; i < field.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(field[i]);
    q += field[i];
    if (koe::IsLeadByte(b) && i + 1 < field.size()) {
      q += field[++i];
    } else if (b == '"') {
      q += '"';
    }
  }
  return q + "\"";
}

void CheckRawInput(const std::string& input) {
  const auto fields = koe::SplitEntry(input);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].size() > input.size()) Fail("a field longer than the entry");
    if (EndsInLoneLead(fields[i]) && !(i + 1 == fields.size() && EndsInLoneLead(input)))
      Fail("a field ends inside a double-byte character");
  }
}

void CheckRoundTrip(FuzzedDataProvider& fdp) {
  static const char* const kSeparators[] = {",", " , ", " ", "\t,\x01", ",\x1f"};
  std::vector<std::string> fields;
  std::string entry = std::string(fdp.ConsumeIntegralInRange<int>(0, 2), ' ');
  const int count = fdp.ConsumeIntegralInRange<int>(1, 5);
  for (int i = 0; i < count; ++i) {
    std::string field = fdp.ConsumeRandomLengthString(32);
    if (EndsInLoneLead(field)) field.pop_back();
    // A plain field may follow only a separator with a comma or a blank, as all of them have.
    const bool plain = SafeUnquoted(field) && fdp.ConsumeBool();
    if (i > 0) entry += kSeparators[fdp.ConsumeIntegralInRange<int>(0, 4)];
    entry += plain ? field : Quoted(field);
    fields.push_back(field);
  }
  if (koe::SplitEntry(entry) != fields) Fail("written fields do not come back");

  auto with_empty = fields;
  with_empty.emplace_back();
  if (koe::SplitEntry(entry + ",") != with_empty) Fail("a final comma adds no empty field");
  if (koe::SplitEntry(entry + " ,") != with_empty) Fail("a final comma after blanks adds no field");
  if (koe::SplitEntry(entry + ", ") != fields) Fail("a comma before final blanks adds a field");
  if (koe::SplitEntry(entry + "\t") != fields) Fail("final blanks change the fields");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckRawInput(std::string(reinterpret_cast<const char*>(data), size));
  FuzzedDataProvider fdp(data, size);
  CheckRoundTrip(fdp);
  return 0;
}
