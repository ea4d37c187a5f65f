# The viewer's layers, read from its sources while the build runs: a source includes only the
# layers below its own, so that the drawing of the includes has no loop. From the bottom:
#
#   xml      viewer/xml/                         the XML document and nodes
#   text     ui/TextIds.h, ui/StringTable.*,     the text numbers and the texts (a leaf: no window)
#            ui/MlsString.*
#   engine   workspace/CADEngine.h,              the engine interface and its loader (a leaf)
#            workspace/CadEngineLibrary.*
#   model    viewer/model/                       tree objects, elements, reader, recognition
#   core     the rest of workspace/ but          the workspace without a window: the model, the
#            SplitterView                        engine view, the commands, the selection flow
#   parts    ui/PaneHeader.*, ui/PropertyGridRows.*, ui/VHSplitter.*
#                                                window parts the panes share
#   pane     ui/TreeObjectView.*, ui/Object3DView.*, ui/PropertiesView.*
#                                                one pane each: it includes no other pane
#   windows  workspace/SplitterView.*, the rest  the windows that put panes together
#            of ui/
#
# Tests are not read: they drive a layer from above.
#
#   cmake -DROOT=<viewer folder> [-DSTAMP=<file written when all is well>] -P ViewerLayers.cmake
#
# Every include that runs upward is printed as "<source>: <include> (<layer> may not use
# <layer>)"; then the script fails.

cmake_minimum_required(VERSION 3.25)

if(NOT ROOT)
  message(FATAL_ERROR "ViewerLayers.cmake: ROOT is not set")
endif()

# The layer of a path below the viewer folder ("model/elements/Gears.cpp"), in out; empty when
# the path lies in no layer of the library.
function(viewer_layer_of path out)
  string(REPLACE "/" ";" parts "${path}")
  list(GET parts 0 folder)
  get_filename_component(name "${path}" NAME_WE)
  set(layer "")
  if(folder STREQUAL "xml")
    set(layer xml)
  elseif(folder STREQUAL "model")
    set(layer model)
  elseif(folder STREQUAL "ui")
    if(name MATCHES "^(TextIds|StringTable|MlsString)$")
      set(layer text)
    elseif(name MATCHES "^(PaneHeader|PropertyGridRows|VHSplitter)$")
      set(layer parts)
    elseif(name MATCHES "^(TreeObjectView|Object3DView|PropertiesView)$")
      set(layer pane)
    else()
      set(layer windows)
    endif()
  elseif(folder STREQUAL "workspace")
    if(name MATCHES "^(CADEngine|CadEngineLibrary)$")
      set(layer engine)
    elseif(name STREQUAL "SplitterView")
      set(layer windows)
    else()
      set(layer core)
    endif()
  endif()
  set(${out} "${layer}" PARENT_SCOPE)
endfunction()

# What each layer may include besides itself.
set(allowed_xml "")
set(allowed_text xml)
set(allowed_engine text)
set(allowed_model xml text engine)
set(allowed_core xml text engine model)
set(allowed_parts xml text engine model core)
set(allowed_pane xml text engine model core parts)
set(allowed_windows xml text engine model core parts pane)

file(GLOB_RECURSE sources RELATIVE "${ROOT}"
     "${ROOT}/xml/*.cpp" "${ROOT}/xml/*.h" "${ROOT}/model/*.cpp" "${ROOT}/model/*.h"
     "${ROOT}/ui/*.cpp" "${ROOT}/ui/*.h" "${ROOT}/workspace/*.cpp" "${ROOT}/workspace/*.h")
list(SORT sources)

set(wrong 0)
set(scanned 0)
foreach(source ${sources})
  if(source MATCHES "(^|/)tests/")
    continue()
  endif()
  viewer_layer_of("${source}" layer)
  get_filename_component(stem "${source}" NAME_WE)
  file(STRINGS "${ROOT}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "\"([^\"]+)\"")
      continue()
    endif()
    set(included "${CMAKE_MATCH_1}")
    if(NOT included MATCHES "/")
      continue()  # a header beside the source, or MorlaneExport.h at the root
    endif()
    viewer_layer_of("${included}" target)
    get_filename_component(target_stem "${included}" NAME_WE)
    set(ok FALSE)
    if(target STREQUAL "")
      set(ok FALSE)
    elseif(target STREQUAL layer)
      # Within a layer anything goes, but a pane reaches only its own header.
      if(NOT layer STREQUAL "pane" OR target_stem STREQUAL stem)
        set(ok TRUE)
      endif()
    elseif(target IN_LIST allowed_${layer})
      set(ok TRUE)
    endif()
    if(NOT ok)
      if(target STREQUAL "")
        set(target "no layer")
      endif()
      message("${source}: ${included} (${layer} may not use ${target})")
      math(EXPR wrong "${wrong} + 1")
    endif()
  endforeach()
  math(EXPR scanned "${scanned} + 1")
endforeach()

if(scanned EQUAL 0)
  message(FATAL_ERROR "ViewerLayers.cmake: no source found below ${ROOT}")
endif()
if(wrong GREATER 0)
  message(FATAL_ERROR "${wrong} include(s) of the viewer run upward (cmake/ViewerLayers.cmake "
                      "draws the layers)")
endif()
if(STAMP)
  file(WRITE "${STAMP}" "${scanned} sources\n")
endif()
