#include "meter_tree.h"

#include "cell_text.h"

#include <QPainter>
#include <QPixmap>
#include <QSet>
#include <QStyledItemDelegate>
#include <QTreeWidget>

namespace palvero {

namespace {

constexpr int kImageRole = Qt::UserRole + 1;

QPixmap drawImage(MeterTree::Image image)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (image == MeterTree::Key) {
        p.setPen(QPen(QColor(150, 110, 20), 1.6));
        p.setBrush(QColor(235, 190, 60));
        p.drawEllipse(QRectF(1.5, 4.5, 7, 7));
        p.drawLine(QPointF(8.5, 8), QPointF(14.5, 8));
        p.drawLine(QPointF(12.5, 8), QPointF(12.5, 11));
        p.drawLine(QPointF(14.5, 8), QPointF(14.5, 10.5));
    } else {
        // A round meter dial; green with a tick once read.
        const bool read = image == MeterTree::Read;
        p.setPen(QPen(read ? QColor(20, 110, 40) : QColor(120, 120, 120), 1.4));
        p.setBrush(read ? QColor(120, 210, 120) : QColor(225, 225, 225));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        if (read) {
            p.setPen(QPen(QColor(10, 80, 20), 2.0));
            p.drawPolyline(QPolygonF({QPointF(4.5, 8.5), QPointF(7, 11), QPointF(11.5, 5)}));
        } else {
            p.setPen(QPen(QColor(90, 90, 90), 1.4));
            p.drawLine(QPointF(8, 8), QPointF(11, 5));
        }
    }
    return pm;
}

// Applies the drawing rule when a node is painted: meters read in full turn green.
class TreeDelegate : public QStyledItemDelegate {
public:
    TreeDelegate(const MeterTree& tree, QObject* parent)
        : QStyledItemDelegate(parent)
        , m_tree(tree)
    {
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const bool meterNode = !index.parent().isValid();
        const bool green = meterNode && m_tree.isRead(index.data(Qt::DisplayRole).toString());
        option->palette.setColor(QPalette::Text, green ? QColor(0, 128, 0) : QColor(255, 0, 0));
        option->palette.setColor(QPalette::HighlightedText, green ? QColor(0, 128, 0) : QColor(255, 0, 0));
        if (green)
            option->icon = MeterTree::icon(MeterTree::Read);
    }

private:
    const MeterTree& m_tree;
};

} // namespace

QIcon MeterTree::icon(Image image)
{
    static const QIcon icons[] = {QIcon(drawImage(NotRead)), QIcon(drawImage(Read)), QIcon(drawImage(Key))};
    return icons[image];
}

MeterTree::MeterTree(QTreeWidget* tree, const MeterTable& table)
    : m_tree(tree)
    , m_table(table)
{
    m_tree->setHeaderHidden(true);
    m_tree->setUniformRowHeights(true);
    m_tree->setItemDelegate(new TreeDelegate(*this, m_tree));
    QPalette pal = m_tree->palette();
    pal.setColor(QPalette::Text, Qt::red);
    m_tree->setPalette(pal);
}

void MeterTree::count(const QString& text, int delta)
{
    int& n = m_texts[text];
    n += delta;
    if (n <= 0)
        m_texts.remove(text);
}

void MeterTree::addMeter(const QString& meterId, const QString& key, Image image)
{
    auto* node = new QTreeWidgetItem(QStringList{meterId});
    node->setIcon(0, icon(image));
    node->setData(0, kImageRole, static_cast<int>(image));
    auto* keyNode = new QTreeWidgetItem(node, QStringList{key});
    keyNode->setIcon(0, icon(Key));
    keyNode->setData(0, kImageRole, static_cast<int>(Key));
    m_tree->addTopLevelItem(node);
    count(meterId, +1);
    count(key, +1);
    m_meters[meterId].append(node);
}

void MeterTree::updateRow(int row)
{
    const QString id = cellText(m_table.cell(row, col::MeterId));
    if (hasNode(id))
        return;
    const std::string& value = m_table.cell(row, col::MainValue);
    const bool read = !value.empty() && value != "Exception"
        && m_table.cell(row, col::Notes).find("AES") == std::string::npos;
    addMeter(id, cellText(m_table.cell(row, col::EncryptionKey)), read ? Read : NotRead);
}

void MeterTree::clear()
{
    m_tree->clear();
    m_texts.clear();
    m_meters.clear();
}

void MeterTree::rebuild()
{
    m_tree->setUpdatesEnabled(false);
    clear();
    for (int r = 1; r < m_table.rowCount(); ++r) {
        const std::string& id = m_table.cell(r, col::MeterId);
        if (!id.empty())
            addMeter(cellText(id), cellText(m_table.cell(r, col::EncryptionKey)),
                     NotRead);
    }
    m_tree->setUpdatesEnabled(true);
}

QTreeWidgetItem* MeterTree::meterNode(const QString& meterId) const
{
    auto it = m_meters.find(meterId);
    return it == m_meters.end() || it->isEmpty() ? nullptr : it->first();
}

void MeterTree::updateKeyNode(int row, ErrorLogger& log)
{
    QTreeWidgetItem* node = meterNode(cellText(m_table.cell(row, col::MeterId)));
    if (!node || node->childCount() == 0) {
        log.LogErrorText("No key node for meter " + m_table.cell(row, col::MeterId));
        return;
    }
    QTreeWidgetItem* keyNode = node->child(0);
    count(keyNode->text(0), -1);
    keyNode->setText(0, cellText(m_table.cell(row, col::EncryptionKey)));
    count(keyNode->text(0), +1);
}

void MeterTree::removeMeter(const QString& meterId)
{
    const QList<QTreeWidgetItem*> nodes = m_meters.take(meterId);
    for (QTreeWidgetItem* node : nodes) {
        count(meterId, -1);
        for (int i = 0; i < node->childCount(); ++i)
            count(node->child(i)->text(0), -1);
        delete node;
    }
}

bool MeterTree::isRead(const QString& meterId) const
{
    for (int row : m_table.meterRows(cellBytes(meterId))) {
        const std::string& value = m_table.cell(row, col::MainValue);
        if (!value.empty() && value != "Exception" && !m_table.cell(row, col::Time).empty()
            && !m_table.cell(row, col::Date).empty() && m_table.flag(RowFlag::Decrypted, row))
            return true;
    }
    return false;
}

bool MeterTree::shownGreen(const QTreeWidgetItem* node) const
{
    return node && !node->parent() && isRead(node->text(0));
}

MeterTree::Image MeterTree::shownImage(const QTreeWidgetItem* node) const
{
    if (shownGreen(node))
        return Read;
    return static_cast<Image>(node->data(0, kImageRole).toInt());
}

std::vector<MeterTree::Node> MeterTree::nodes() const
{
    std::vector<Node> out;
    out.reserve(static_cast<size_t>(m_tree->topLevelItemCount()));
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* node = m_tree->topLevelItem(i);
        out.push_back(Node{node->text(0), node->childCount() > 0 ? node->child(0)->text(0) : QString(),
                           static_cast<Image>(node->data(0, kImageRole).toInt())});
    }
    return out;
}

void MeterTree::restore(const std::vector<Node>& before)
{
    std::vector<Node> all = before;
    QSet<QString> listed;
    for (const Node& n : before)
        listed.insert(n.meterId);
    // Meters heard since the command keep their nodes; nodes that the command brought
    // (an import) leave with their rows.
    for (Node& n : nodes())
        if (!listed.contains(n.meterId) && m_table.findMeterRow(cellBytes(n.meterId)) > 0)
            all.push_back(std::move(n));
    m_tree->setUpdatesEnabled(false);
    clear();
    for (const Node& n : all)
        addMeter(n.meterId, n.key, n.image);
    m_tree->setUpdatesEnabled(true);
}

} // namespace palvero
