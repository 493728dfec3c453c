#pragma once

#include <QString>

// Generated inputs for the benchmarks, made once and kept under the build
// folder (bench/corpus) so that repeated runs do not pay for them again.
namespace BenchCorpus {

// 100,000 image-named files (empty) in 500 sub-folders of 200 each, plus a few
// non-image files per folder.
QString scanTree();

// `count` distinct 24-megapixel photo-like JPEGs (6000 x 4000, quality 90)
// without EXIF thumbnails, alone in their folder: each one a whole decode.
QString distinct24MP(int count);

// The folder that holds the generated corpora.
QString corpusRoot();

} // namespace BenchCorpus
