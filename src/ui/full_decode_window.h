#pragma once

#include "error_logger.h"
#include "formats.h"
#include "meter_key_source.h"
#include "meter_table.h"
#include "operator.h"
#include "program_paths.h"
#include "reception.h"
#include "reading_settings.h"
#include "receiver_frame.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QPlainTextEdit;
class QPushButton;

namespace palvero {

class DecodeTelegramDialog;

// What the full-decode window works with; all of it outlives the window.
struct FullDecodeContext {
    const MeterTable& table;
    const ReadingSettings& settings;
    const Formats& formats;
    Operator& op;
    ErrorLogger& errorLog;
    MeterKeySource* keys;
    ProgramPaths paths;
    const LastTelegrams* heard = nullptr; // the telegram heard last from each meter
    const MeterFormats* meterFormats = nullptr; // those of the reading
};

// The full-decode window: the record-by-record listing of telegrams decoded on request,
// one block per command, kept until "Clear" and savable as a text file. Decoding runs
// the telegram processor on a table of its own (see fullDecodeOfFrame): the meter table
// is never changed by it, and telegrams from the receiver never write here.
class TFullDecode : public QDialog {
    Q_OBJECT
public:
    explicit TFullDecode(FullDecodeContext context, QWidget* centreOver = nullptr);
    ~TFullDecode() override;

    // "Full decode": decodes the row's "Full telegram" and shows the window (also when
    // the cell is empty or holds no telegram; the latter is explained in a message).
    void decodeRow(int row);
    // Decodes a telegram typed or pasted as hexadecimal text and shows the window; bad
    // text is explained in a message and decodes nothing (false).
    bool decodeText(const std::string& text);
    // "Decode telegram...": asks for the telegram.
    void askTelegram();

    void showWindow();
    // "Save": the listing into a text file the operator chooses; false when not written.
    bool save();
    void clear();

    // The listing as it stands, one entry per line.
    std::vector<std::string> lines() const;
    DecodeTelegramDialog& telegramDialog() { return *m_telegramDialog; }

    QPlainTextEdit* Memo_decode = nullptr;
    QPushButton* BitBtn1 = nullptr; // Save
    QPushButton* BitBtn2 = nullptr; // Clear
    QPushButton* BitBtn3 = nullptr; // Close

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    // Esc and Enter hide (Enter on "Save" saves), Ctrl+S saves; true when taken.
    bool handleKey(QKeyEvent* key, const QObject* target);
    void append(const std::vector<std::string>& lines);
    std::vector<std::string> decodeFrame(const ReceiverFrame& frame, const std::string& rowKey) const;

    FullDecodeContext m_context;
    QWidget* m_centreOver;
    std::unique_ptr<DecodeTelegramDialog> m_telegramDialog;
};

} // namespace palvero
