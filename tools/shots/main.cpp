// dezadizi-screenshots: drives the real window as a user would and saves the pictures the README
// shows, so they are regenerated rather than drawn. Run by scripts/screenshots.sh under Xvfb with
// a simulated unit published as "Comm 1"; the traffic log shows the frames of the connect.
//   dezadizi-screenshots OUTPUT-FOLDER
#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/Fm_connect.h"
#include "app/Fm_main.h"
#include "app/Fm_traffic.h"
#include "base/Messages.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <functional>
#include <iostream>
#include <memory>

namespace {

bool Save(QWidget* widget, const QString& path) {
    QCoreApplication::processEvents();
    if (!widget->grab().save(path)) {
        std::cerr << "dezadizi-screenshots: cannot write " << path.toStdString() << std::endl;
        return false;
    }
    std::cout << path.toStdString() << std::endl;
    return true;
}

// Presses Connect and answers the dialog with `choose`, which returns the dialog's result.
void Connect(TfmMain& window, const std::function<int(TfmConnect&)>& choose) {
    const TConnectDialogRunner previous = SetConnectDialogRunner(choose);
    QTest::mouseClick(window.btConnectNew, Qt::LeftButton);
    SetConnectDialogRunner(previous);
}

// Options -> "Traffic Log...": the frames of the search and the read just done.
bool SaveTrafficLog(TfmMain& window, const QDir& out) {
    window.tbTrafficLog->trigger();
    auto* traffic = window.findChild<TfmTraffic*>("fmTraffic");
    if (traffic == nullptr || !QTest::qWaitForWindowExposed(traffic)) {
        std::cerr << "dezadizi-screenshots: the traffic log did not open" << std::endl;
        return false;
    }
    traffic->move(40, 40);
    traffic->resize(1180, 560);
    QTest::qWait(300);
    return Save(traffic, out.filePath("traffic-log.png"));
}

} // namespace

int main(int argc, char* argv[]) {
    TApplication application(argc, argv);
    QApplication::setApplicationName("Dezadizi (Z7E) Configuration");
    if (argc != 2) {
        std::cerr << "usage: dezadizi-screenshots OUTPUT-FOLDER" << std::endl;
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    // A box would wait for a user who is not there: say what it said and go on.
    std::string boxes;
    SetMessageHandler([&boxes](TMessageKind, const std::string& text) {
        boxes += text + "\n";
        return TAnswer::Yes;
    });

    auto window = std::make_unique<TfmMain>();
    window->show();
    window->move(0, 0);
    (void)QTest::qWaitForWindowExposed(window.get());
    bool ok = true;

    // Offline: the first device type's factory defaults.
    Connect(*window, [](TfmConnect& dialog) {
        dialog.show();
        QTest::mouseClick(dialog.rbOffline, Qt::LeftButton);
        dialog.cbDevice->setCurrentIndex(0);
        QTest::mouseClick(dialog.btnConnect, Qt::LeftButton);
        return dialog.result();
    });
    ok = Save(window.get(), out.filePath("window-offline.png")) && ok;

    // The connect dialog, then online on "Comm 1" until the read has been shown.
    Connect(*window, [&](TfmConnect& dialog) {
        dialog.show();
        (void)QTest::qWaitForWindowExposed(&dialog);
        QTest::mouseClick(dialog.rbOnline, Qt::LeftButton);
        dialog.cbCommPort->setCurrentIndex(0);
        ok = Save(&dialog, out.filePath("connect-dialog.png")) && ok;
        // The same dialog reaching a unit through a network gateway.
        QTest::mouseClick(dialog.rbGateway, Qt::LeftButton);
        dialog.edHost->setText("192.168.1.50");
        dialog.seNetworkPort->setValue(502);
        dialog.cbGatewayKind->setCurrentIndex(0);
        ok = Save(&dialog, out.filePath("connect-gateway.png")) && ok;
        QTest::mouseClick(dialog.rbSerial, Qt::LeftButton);
        QTest::mouseClick(dialog.btnConnect, Qt::LeftButton);
        (void)QTest::qWaitFor([&] { return !dialog.isVisible() || dialog.btnConnect->isEnabled(); }, 20000);
        if (dialog.isVisible())
            dialog.done(mrCancel);
        return dialog.result();
    });
    const bool read = window->FCurrentDevice != nullptr &&
                      QTest::qWaitFor([&] { return window->btWriteSettingsNew->isEnabled(); }, 60000);
    QTest::qWait(300);
    if (!read) {
        std::cerr << "dezadizi-screenshots: no read from Comm 1\n" << boxes;
        return 1;
    }
    ok = Save(window.get(), out.filePath("window-online.png")) && ok;
    ok = SaveTrafficLog(*window, out) && ok;
    window.reset();
    return ok ? 0 : 1;
}
