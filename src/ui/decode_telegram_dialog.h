#pragma once

#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace palvero {

// Asks for one telegram as hexadecimal text. "Decode" hands the text on; the dialog
// closes only when it was taken, so a mistyped telegram can be mended in place.
class DecodeTelegramDialog : public QDialog {
    Q_OBJECT
public:
    using Decoder = std::function<bool(const std::string& text)>;

    DecodeTelegramDialog(Decoder decoder, QWidget* centreOver = nullptr);

    void showWindow();
    void decode();

    QLabel* Label_telegram = nullptr;
    QPlainTextEdit* Memo_telegram = nullptr;
    QPushButton* Butt_decode = nullptr;
    QPushButton* Butt_cancel = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Decoder m_decoder;
    QWidget* m_centreOver;
};

} // namespace palvero
