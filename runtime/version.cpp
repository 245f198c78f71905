// The runtime's version, shown by the console banner and `system/version`.
namespace zem {
extern const char* const kVersion;
const char* const kVersion = "0.1.0";
}  // namespace zem
