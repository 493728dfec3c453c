#pragma once

#include "model/ImageItem.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

// One folder of a scanned tree: its own images (in listing order) and the
// sub-folders that hold at least one image somewhere below them, sorted by
// name. A value; every scan gives every node a fresh id, and equality and
// hashing look at the id alone.
struct FolderNode
{
    QUuid id;
    QUrl url;
    QString name;
    QList<FolderNode> children;
    QList<ImageItem> images;
    // The folder's own XMP sidecars (*.xmp, any case), as absolute paths: the
    // scan's listing tells which exist without looking again per photo.
    QStringList sidecars;

    // The name shown for the folder at `path`: its last component, and "/"
    // for the root of the file system (whose last component is empty).
    static QString displayName(const QString &path);

    // Images in the whole subtree.
    qsizetype imageCount() const;
    // The folder's decoded local path.
    QString path() const { return url.toLocalFile(); }

    // Every image of the subtree: the node's own first, then each child's in
    // tree order. Not sorted.
    QList<ImageItem> allImages() const;

    // The tree with the node whose id is `target` replaced by `replacement`;
    // every other field, the root's id included, is kept. Unchanged when no
    // node has that id.
    FolderNode replacingNode(const QUuid &target, const FolderNode &replacement) const;

    // The node with this id in the subtree, or nullptr.
    const FolderNode *find(const QUuid &nodeId) const;

    friend bool operator==(const FolderNode &a, const FolderNode &b) { return a.id == b.id; }
    friend bool operator!=(const FolderNode &a, const FolderNode &b) { return a.id != b.id; }
    friend size_t qHash(const FolderNode &node, size_t seed = 0) { return qHash(node.id, seed); }
};

Q_DECLARE_METATYPE(FolderNode)
