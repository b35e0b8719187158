// Replaced by the server sources.
namespace harnolfees::server {}
