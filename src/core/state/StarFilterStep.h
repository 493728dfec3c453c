#pragma once

#include "state/ImageListStep.h"

#include <functional>

// Keeps the images of one rating: -1 those rated 0 (or not at all), 1 to 5
// those rated exactly that many stars; any other value keeps every image.
class StarFilterStep final : public ImageListStep
{
public:
    // The stored rating of a file path, 0 when none.
    using RatingLookup = std::function<int(const QString &path)>;

    explicit StarFilterStep(RatingLookup rating)
        : m_rating(std::move(rating))
    {}

    int stars() const { return m_stars; }
    void setStars(int stars) { m_stars = stars; }

    bool isActive() const override { return m_stars == -1 || m_stars >= 1; }
    bool readsRatings() const override { return true; }
    QList<ImageItem> apply(const QList<ImageItem> &input) const override
    {
        const int wanted = m_stars == -1 ? 0 : m_stars;
        return keepIf(input,
                      [&](const ImageItem &item) { return m_rating(item.path()) == wanted; });
    }

private:
    RatingLookup m_rating;
    int m_stars = 0;
};
