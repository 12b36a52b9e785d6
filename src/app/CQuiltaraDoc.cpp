#include "app/CQuiltaraDoc.h"

#include <QFile>
#include <QFileInfo>

namespace quiltara {

namespace {
const QString kUntitled = QStringLiteral("Untitled");
} // namespace

CQuiltaraDoc::CQuiltaraDoc(QObject* parent) : QObject(parent), title_(kUntitled) {}

void CQuiltaraDoc::OnNewDocument() {
    SetPathName(QString());
}

bool CQuiltaraDoc::OnOpenDocument(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    SetPathName(path);
    return true;
}

bool CQuiltaraDoc::OnSaveDocument(const QString& path) {
    // The document holds no data, so writing its own file again could only
    // empty whatever the file holds; it is left as it is.
    const bool ownFile = !pathName_.isEmpty() && QFileInfo(path).absoluteFilePath() ==
                                                     QFileInfo(pathName_).absoluteFilePath();
    if (!ownFile) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return false;
        }
    }
    SetPathName(path);
    return true;
}

void CQuiltaraDoc::SetPathName(const QString& path) {
    pathName_ = path;
    const QString title = path.isEmpty() ? kUntitled : QFileInfo(path).fileName();
    if (title != title_) {
        title_ = title;
        emit TitleChanged(title_);
    }
}

} // namespace quiltara
