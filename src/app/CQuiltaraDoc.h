#pragma once

#include <QObject>
#include <QString>

namespace quiltara {

// The document paired with the map view. It carries no data: a new document
// is empty, opening a file reads nothing from it, saving writes nothing into
// it. It keeps only the title and the file it stands for.
class CQuiltaraDoc : public QObject {
    Q_OBJECT

public:
    explicit CQuiltaraDoc(QObject* parent = nullptr);

    // "Untitled" until the document stands for a file, then the file's name.
    QString Title() const { return title_; }
    // The file the document stands for; empty for a new document.
    QString PathName() const { return pathName_; }

    // A new, empty document.
    void OnNewDocument();
    // Takes the file as the document's file; false when it cannot be read.
    bool OnOpenDocument(const QString& path);
    // Saves the document under the path: a file the document does not stand
    // for yet is written (empty, as the document holds nothing); the
    // document's own file is left as it is. False when it cannot be written.
    bool OnSaveDocument(const QString& path);

signals:
    void TitleChanged(const QString& title);

private:
    void SetPathName(const QString& path);

    QString title_;
    QString pathName_;
};

} // namespace quiltara
