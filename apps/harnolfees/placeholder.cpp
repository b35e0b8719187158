// Replaced by the driver sources.
namespace harnolfees::driver {}
