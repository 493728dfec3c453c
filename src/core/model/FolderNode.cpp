#include "model/FolderNode.h"

QString FolderNode::displayName(const QString &path)
{
    if (path == QLatin1String("/"))
        return path;
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

qsizetype FolderNode::imageCount() const
{
    qsizetype count = images.size();
    for (const FolderNode &child : children)
        count += child.imageCount();
    return count;
}

static void appendImages(const FolderNode &node, QList<ImageItem> &out)
{
    out += node.images;
    for (const FolderNode &child : node.children)
        appendImages(child, out);
}

QList<ImageItem> FolderNode::allImages() const
{
    QList<ImageItem> out;
    out.reserve(imageCount());
    appendImages(*this, out);
    return out;
}

FolderNode FolderNode::replacingNode(const QUuid &target, const FolderNode &replacement) const
{
    if (id == target)
        return replacement;
    FolderNode copy = *this;
    for (FolderNode &child : copy.children)
        child = child.replacingNode(target, replacement);
    return copy;
}

const FolderNode *FolderNode::find(const QUuid &nodeId) const
{
    if (id == nodeId)
        return this;
    for (const FolderNode &child : children) {
        if (const FolderNode *found = child.find(nodeId))
            return found;
    }
    return nullptr;
}
