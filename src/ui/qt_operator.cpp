#include "qt_operator.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace palvero {

namespace {

QMessageBox::Icon qtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QWidget* QtOperator::dialogParent() const
{
    // The window the operator works in, so that a box is never hidden behind a window
    // that stays on top.
    QWidget* active = QApplication::activeWindow();
    return active ? active : m_parent;
}

QString QtOperator::qtFilter(const std::string& filter)
{
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1]);
    return out.join(QStringLiteral(";;"));
}

void QtOperator::showMessage(const std::string& caption, const std::string& text, MessageIcon icon)
{
    QMessageBox box(qtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                    dialogParent());
    box.exec();
}

bool QtOperator::askYesNo(const std::string& caption, const std::string& text, MessageIcon icon)
{
    QMessageBox box(qtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, dialogParent());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

size_t QtOperator::askChoice(const std::string& caption, const std::string& text, MessageIcon icon,
                             const std::vector<std::string>& buttons)
{
    QMessageBox box(qtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::NoButton,
                    dialogParent());
    std::vector<QAbstractButton*> added;
    for (size_t i = 0; i < buttons.size(); ++i)
        added.push_back(box.addButton(QString::fromStdString(buttons[i]),
                                      i == 0 ? QMessageBox::RejectRole : QMessageBox::AcceptRole));
    if (!added.empty()) {
        box.setDefaultButton(static_cast<QPushButton*>(added.front()));
        box.setEscapeButton(added.front());
    }
    box.exec();
    for (size_t i = 0; i < added.size(); ++i)
        if (box.clickedButton() == added[i])
            return i;
    return 0;
}

std::optional<std::string> QtOperator::askFile(const FileDialogSpec& spec, bool save)
{
    QFileDialog dialog(dialogParent(), QString::fromStdString(spec.title));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(qtFilter(spec.filter));
    dialog.setDefaultSuffix(QString::fromStdString(spec.defaultExtension));
    if (!spec.folder.empty())
        dialog.setDirectory(QString::fromStdString(spec.folder));
    if (!spec.fileName.empty())
        dialog.selectFile(QString::fromStdString(spec.fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().first()).toStdString();
}

std::optional<std::string> QtOperator::askSaveFile(const FileDialogSpec& spec)
{
    return askFile(spec, true);
}

std::optional<std::string> QtOperator::askOpenFile(const FileDialogSpec& spec)
{
    return askFile(spec, false);
}

std::optional<std::string> QtOperator::askPassword(const std::string& caption, const std::string& text)
{
    bool ok = false;
    const QString password = QInputDialog::getText(dialogParent(), QString::fromStdString(caption),
                                                   QString::fromStdString(text), QLineEdit::Password, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return password.toStdString();
}

} // namespace palvero
