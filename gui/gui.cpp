// The GUI back end and engine are linked into zem_gui; this unit keeps the library non-empty.
namespace zem::gui {
int linked() { return 1; }
}  // namespace zem::gui
