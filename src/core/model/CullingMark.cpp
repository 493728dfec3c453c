#include "model/CullingMark.h"

#include <QJsonObject>
#include <array>

namespace {

// Index = the enum's value; element 0 (none) has no name.
constexpr std::array<QStringView, 3> kFlagNames{u"", u"pick", u"reject"};
constexpr std::array<QStringView, 6> kLabelNames{u"",      u"red",  u"yellow",
                                                 u"green", u"blue", u"purple"};
constexpr std::array<QStringView, 6> kXmpLabels{u"",      u"Red",  u"Yellow",
                                                u"Green", u"Blue", u"Purple"};

const QString kFlagKey = QStringLiteral("flag");
const QString kLabelKey = QStringLiteral("label");

template <typename Enum, std::size_t Size>
QString nameOf(const std::array<QStringView, Size> &names, Enum value)
{
    const auto index = std::size_t(value);
    return index < Size ? names[index].toString() : QString();
}

// none when `name` is empty or not among `names`.
// Names are read in any case and without surrounding spaces, as files written
// by hand or by other programs vary.
template <typename Enum, std::size_t Size>
Enum valueNamed(const std::array<QStringView, Size> &names, QStringView name)
{
    name = name.trimmed();
    if (name.isEmpty())
        return Enum{};
    for (std::size_t index = 1; index < Size; ++index) {
        if (names[index].compare(name, Qt::CaseInsensitive) == 0)
            return Enum(index);
    }
    return Enum{};
}

} // namespace

QJsonValue CullingMark::toJson() const
{
    if (isEmpty())
        return QJsonValue(QJsonValue::Undefined);
    QJsonObject object;
    if (flag != CullingFlag::none)
        object.insert(kFlagKey, flagName(flag));
    if (label != ColourLabel::none)
        object.insert(kLabelKey, labelName(label));
    return object;
}

CullingMark CullingMark::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return {};
    const QJsonObject object = value.toObject();
    // toString() of a value that is no string is empty, which reads as none.
    return {flagFromName(object.value(kFlagKey).toString()),
            labelFromName(object.value(kLabelKey).toString())};
}

QString CullingMark::flagName(CullingFlag flag)
{
    return nameOf(kFlagNames, flag);
}

CullingFlag CullingMark::flagFromName(QStringView name)
{
    return valueNamed<CullingFlag>(kFlagNames, name);
}

QString CullingMark::labelName(ColourLabel label)
{
    return nameOf(kLabelNames, label);
}

ColourLabel CullingMark::labelFromName(QStringView name)
{
    return valueNamed<ColourLabel>(kLabelNames, name);
}

QString CullingMark::xmpLabel(ColourLabel label)
{
    return nameOf(kXmpLabels, label);
}

ColourLabel CullingMark::labelFromXmp(QStringView xmpLabel)
{
    return valueNamed<ColourLabel>(kXmpLabels, xmpLabel);
}
