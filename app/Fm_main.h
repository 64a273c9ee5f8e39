#pragma once
// The main window: owner of the catalogue and of every long-lived object.
#include <QMainWindow>
#include <memory>
#include <string>

class TDevices;

class TfmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfmMain(QWidget* parent = nullptr);
    ~TfmMain() override;

    TDevices* Devices() const { return FDevices.get(); }

    // The definition file next to the executable.
    static std::string DefinitionPath();

private:
    void FormCreate();

    std::unique_ptr<TDevices> FDevices;
};
