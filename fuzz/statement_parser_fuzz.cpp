// Feeds arbitrary bodies to the fee page's form decoding and statement
// grammar: neither may crash, and whatever the grammar accepts must be one of
// its own shapes with a center and every parameter typed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "form.hpp"
#include "statement.hpp"

using namespace harnolfees::server;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Inspect(const ParseOutcome& o) {
  if (!o.ok()) {
    Check(o.statements.empty());
    Check(o.error.rfind("refused: ", 0) == 0);
    return;
  }
  Check(!o.statements.empty() && o.statements.size() <= 2);
  for (const ParsedStatement& st : o.statements) {
    Check(st.shape >= 0 && static_cast<std::size_t>(st.shape) < ShapeCount());
    Check(st.sql == &ShapeSql(static_cast<std::size_t>(st.shape)));
    Check(st.center >= 0);
    for (const Parameter& p : st.parameters) Check(!p.name.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The raw text as a statement, and the same bytes as a posted body.
  Inspect(ParseStatementText(input));
  auto decoded = DecodeStatementBody(input);
  if (const auto* text = std::get_if<std::string>(&decoded)) Inspect(ParseStatementText(*text));
  return 0;
}
