// The Linux module is linked from the static core library whole; this file
// only gives the module target a source of its own.
namespace {
[[maybe_unused]] const int kModuleAnchor = 0;
}
