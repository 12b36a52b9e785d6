#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "sources/SourceCatalogue.h"
#include "sources/WmtsCapabilities.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace quiltara {

class HttpClient;
class Prompts;

// "Add Tile Source": reads the capabilities document of a WMTS service (an
// address or a file), lists its layers with their titles, zooms and format,
// or why one cannot be used, lets the user give each of road map,
// satellite, terrain and hybrid a layer, and saves a source file of them in
// the user's sources folder. Reading goes on a thread of its own, so the
// window keeps painting while a slow service answers.
class CAddTileSourceDlg : public QDialog {
    Q_OBJECT

public:
    using HttpClientFactory = std::function<std::unique_ptr<HttpClient>()>;

    CAddTileSourceDlg(Prompts& prompts, HttpClientFactory makeHttpClient,
                      QWidget* parent = nullptr);
    ~CAddTileSourceDlg() override;

    // Runs the dialog; the source saved (its file set), or nothing when the
    // dialog was cancelled.
    std::optional<TileSource> DoModal();

    // Reads the capabilities at the address in the box ("Read").
    void OnRead();
    // Builds the source of the layers chosen and saves it ("Save").
    void accept() override;

    // The document's layers once read (for the window's tests).
    const std::optional<WmtsService>& Service() const { return service_; }

signals:
    // A reading has ended, well or not.
    void ServiceRead();

private:
    void OnBrowse();
    void ShowService(const std::optional<WmtsService>& service, const std::string& error);

    Prompts& prompts_;
    HttpClientFactory makeHttpClient_;
    QLineEdit* location_;
    QPushButton* read_;
    QLabel* status_;
    QTreeWidget* layers_;
    QLabel* refusals_;
    std::array<QComboBox*, 4> choices_{};
    QLineEdit* id_;
    QLineEdit* name_;
    QPushButton* save_;
    std::optional<WmtsService> service_;
    std::string readFrom_; // the location the service was read from
    std::optional<TileSource> saved_;
    std::future<void> reading_;
};

} // namespace quiltara
