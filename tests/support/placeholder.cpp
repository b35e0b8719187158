// Replaced by the shared test support sources.
namespace harnolfees::testing {}
