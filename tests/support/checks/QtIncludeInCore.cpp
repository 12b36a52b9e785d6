// Compiled with the core's include path by a test that expects the compile to
// fail: the core must not be able to reach Qt.
#include <QtCore/QString>
int main() {
    return 0;
}
