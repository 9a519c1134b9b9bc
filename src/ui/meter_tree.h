#pragma once

#include "error_logger.h"
#include "meter_table.h"

#include <QHash>
#include <QIcon>
#include <QString>

#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace palvero {

// The tree of meters beside the table: a node per meter with its key as child node.
// Nodes are found through an index by text, never by walking the tree, so a telegram
// costs the same with ten thousand meters as with ten. A meter node is drawn green with
// the "read" image when its row has a value, a time and a date and was decrypted.
class MeterTree {
public:
    enum Image { NotRead = 0, Read = 1, Key = 2 };

    MeterTree(QTreeWidget* tree, const MeterTable& table);

    // After a telegram: adds the row's meter unless a node with its ID exists.
    void updateRow(int row);
    // Clears the tree and adds every data row with a meter ID.
    void rebuild();
    void clear();
    // Sets the key node of the row's meter to the row's key text.
    void updateKeyNode(int row, ErrorLogger& log);
    // Removes the meter nodes with this text and their key nodes.
    void removeMeter(const QString& meterId);

    bool hasNode(const QString& text) const { return m_texts.value(text) > 0; }
    QTreeWidgetItem* meterNode(const QString& meterId) const;
    // The image a meter node shows now, with the drawing rule applied.
    Image shownImage(const QTreeWidgetItem* node) const;
    bool shownGreen(const QTreeWidgetItem* node) const;

    // The drawing rule: some row of the meter has a main value (not "Exception"), a time
    // and a date, and its last telegram was readable.
    bool isRead(const QString& meterId) const;

    static QIcon icon(Image image);

    // The meter nodes top to bottom, to be put back after an undo.
    struct Node {
        QString meterId;
        QString key;
        Image image;
    };
    std::vector<Node> nodes() const;
    // Puts these nodes back in their order; meters added since that have a row follow them.
    void restore(const std::vector<Node>& before);

private:
    void addMeter(const QString& meterId, const QString& key, Image image);
    void count(const QString& text, int delta);

    QTreeWidget* m_tree;
    const MeterTable& m_table;
    QHash<QString, int> m_texts;                  // nodes per text, both levels
    QHash<QString, QList<QTreeWidgetItem*>> m_meters; // meter nodes per meter ID
};

} // namespace palvero
