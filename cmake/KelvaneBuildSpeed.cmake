# How the build is kept quick on a small machine (README, "Building"):
#   - ccache, where installed, shared between checkouts of the same sources;
#   - mold, else lld, as the linker where installed (dozens of test programs
#     each link the two static libraries with their debug information);
#   - precompiled Qt and standard headers: one set without widgets for
#     kelvane_core, one with them for kelvane_ui, each compiled once and
#     reused by every target that links that library instead of compiling
#     its own (kelvane_share_precompiled_headers, called once all targets
#     exist).
# KELVANE_FAST_LINKER=OFF and KELVANE_PRECOMPILED_HEADERS=OFF turn the last
# two off (the latter shows a source file that misses an #include).

option(KELVANE_FAST_LINKER "Link with mold or lld where installed" ON)
option(KELVANE_PRECOMPILED_HEADERS "Precompile the Qt headers once per library" ON)

# Objects are keyed by paths relative to the source tree, so that another
# checkout of the same sources (a second work tree, CI's clone) reuses them.
# A precompiled header needs pch_defines and -fpch-preprocess to be cached.
find_program(KELVANE_CCACHE ccache)
if(KELVANE_CCACHE)
    set(CMAKE_CXX_COMPILER_LAUNCHER env CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=true
        CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
        ${KELVANE_CCACHE})
endif()

if(KELVANE_FAST_LINKER)
    include(CheckLinkerFlag)
    foreach(linker IN ITEMS mold lld)
        check_linker_flag(CXX -fuse-ld=${linker} KELVANE_LINKER_${linker})
        if(KELVANE_LINKER_${linker})
            add_link_options(-fuse-ld=${linker})
            set(KELVANE_LINKER ${linker})
            break()
        endif()
    endforeach()
endif()
if(KELVANE_LINKER)
    message(STATUS "Linking with ${KELVANE_LINKER}")
else()
    message(STATUS "Linking with the default linker (install mold or lld for quicker links)")
endif()

if(KELVANE_PRECOMPILED_HEADERS)
    # A header set that does not match a file's flags is skipped silently;
    # say so instead, since the build would only become slow.
    add_compile_options(-Winvalid-pch)
    if(KELVANE_CCACHE)
        add_compile_options(-fpch-preprocess)
    endif()
endif()

# The headers most sources include; kept to Qt and the standard library so
# that a change in our own headers never rebuilds the set.
set(KELVANE_CORE_PCH_HEADERS
    <algorithm> <atomic> <cmath> <functional> <memory> <optional> <utility> <vector>
    <QByteArray> <QColor> <QCoreApplication> <QDir> <QElapsedTimer> <QFile> <QFileInfo>
    <QFuture> <QHash> <QImage> <QJsonDocument> <QJsonObject> <QList> <QObject> <QPainter>
    <QPainterPath> <QSet> <QSize> <QString> <QStringList> <QTemporaryDir> <QThreadPool>
    <QTimer> <QUrl> <QtConcurrent/QtConcurrentRun>)
set(KELVANE_UI_PCH_HEADERS
    ${KELVANE_CORE_PCH_HEADERS}
    <QApplication> <QDialog> <QHBoxLayout> <QLabel> <QMenu> <QMouseEvent> <QPushButton>
    <QScrollArea> <QScrollBar> <QToolButton> <QVBoxLayout> <QWidget>)

function(kelvane_targets_below dir out)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(subdir IN LISTS subdirs)
        kelvane_targets_below(${subdir} below)
        list(APPEND targets ${below})
    endforeach()
    set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Compiles the two header sets once, each in a target of its own that has
# nothing but the Qt modules' usage requirements (a set is only valid where
# every macro defined when it was compiled is defined alike, so a library's
# private definitions must stay out of it), and lets kelvane_core,
# kelvane_ui and every program and library that links one of them (tests,
# benchmarks, tools, the app) reuse the matching set. Targets added later in
# any CMakeLists.txt are covered as well.
function(kelvane_share_precompiled_headers)
    if(NOT KELVANE_PRECOMPILED_HEADERS)
        return()
    endif()
    set(empty ${CMAKE_BINARY_DIR}/kelvane_pch.cpp)
    file(CONFIGURE OUTPUT ${empty} CONTENT "// Only the precompiled headers are built here.\n")
    add_library(kelvane_pch_core OBJECT ${empty})
    target_link_libraries(kelvane_pch_core PRIVATE Qt6::Core Qt6::Gui Qt6::Concurrent)
    target_precompile_headers(kelvane_pch_core PRIVATE ${KELVANE_CORE_PCH_HEADERS})
    add_library(kelvane_pch_ui OBJECT ${empty})
    target_link_libraries(kelvane_pch_ui PRIVATE
        Qt6::Core Qt6::Gui Qt6::Concurrent Qt6::Widgets Qt6::Svg Qt6::DBus Qt6::Network)
    target_precompile_headers(kelvane_pch_ui PRIVATE ${KELVANE_UI_PCH_HEADERS})
    set_target_properties(kelvane_pch_core kelvane_pch_ui PROPERTIES AUTOMOC OFF AUTORCC OFF)
    target_precompile_headers(kelvane_core REUSE_FROM kelvane_pch_core)
    target_precompile_headers(kelvane_ui REUSE_FROM kelvane_pch_ui)

    kelvane_targets_below(${PROJECT_SOURCE_DIR} targets)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|OBJECT_LIBRARY)$"
           OR target MATCHES "^kelvane_(core|ui|pch_core|pch_ui)$")
            continue()
        endif()
        get_target_property(own ${target} PRECOMPILE_HEADERS)
        get_target_property(reused ${target} PRECOMPILE_HEADERS_REUSE_FROM)
        if(own OR reused)
            continue()
        endif()
        get_target_property(libraries ${target} LINK_LIBRARIES)
        if(NOT libraries)
            continue()
        endif()
        if("kelvane_ui" IN_LIST libraries)
            target_precompile_headers(${target} REUSE_FROM kelvane_pch_ui)
        elseif("kelvane_core" IN_LIST libraries OR "bench_corpus" IN_LIST libraries)
            target_precompile_headers(${target} REUSE_FROM kelvane_pch_core)
        endif()
    endforeach()
endfunction()
