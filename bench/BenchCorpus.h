#pragma once

#include <QString>

// Generated inputs for the benchmarks, made once and kept under the build
// folder (bench/corpus) so that repeated runs do not pay for them again.
namespace BenchCorpus {

// 100,000 image-named files (empty) in 500 sub-folders of 200 each, plus a few
// non-image files per folder.
QString scanTree();

// The folder that holds the generated corpora.
QString corpusRoot();

} // namespace BenchCorpus
