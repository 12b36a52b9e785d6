// Replaced by the application shell classes.
namespace quiltara {
int GuiLibraryPresent() {
    return 1;
}
} // namespace quiltara
