// Placeholder unit so the platform library exists before its first real
// source lands; removed when the platform core arrives.
namespace pellix::platform {
int versionMajor() { return 1; }
}
