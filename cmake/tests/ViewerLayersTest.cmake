# Test of the viewer's layer check (cmake/ViewerLayers.cmake) on a small tree of its own: every
# kind of upward include is found and named, what lies below is let through, and a tree without
# a wrong include passes and writes its stamp.
#
#   cmake -DCHECK=<ViewerLayers.cmake> -DWORK=<empty folder of the test's own> -P ViewerLayersTest.cmake

cmake_minimum_required(VERSION 3.25)

set(failures 0)
# expect(<condition>): the condition is evaluated as if() would, and counted when it fails.
macro(expect condition)
  cmake_language(EVAL CODE "
    if(NOT (${condition}))
      message(SEND_ERROR [==[expected: ${condition}]==])
      math(EXPR failures \"\${failures} + 1\")
    endif()")
endmacro()

function(write_sources root)
  file(REMOVE_RECURSE "${root}")
  set(args ${ARGN})
  list(LENGTH args n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET args ${i} path)
    list(GET args ${j} text)
    string(REPLACE "|" "\n" text "${text}")
    file(WRITE "${root}/${path}" "${text}\n")
  endforeach()
endfunction()

function(run_check root out_code out_text)
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${root} -DSTAMP=${root}/stamp -P ${CHECK}
                  RESULT_VARIABLE code OUTPUT_VARIABLE text ERROR_VARIABLE text)
  set(${out_code} "${code}" PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

# A tree that keeps its layers: the model takes the texts and the engine interface, the core the
# model, a pane the core and the shared parts, the windows everything; tests may include anything.
set(good "${WORK}/good")
write_sources("${good}"
  "xml/XMLNode.h" "#pragma once|#include \"xml/XmlText.h\"|#include <string>"
  "ui/MlsString.cpp" "#include \"ui/MlsString.h\"|#include \"xml/XMLDocument.h\""
  "workspace/CadEngineLibrary.cpp" "#include \"workspace/CADEngine.h\"|#include \"ui/TextIds.h\""
  "model/TreeObject.h" "#include \"MorlaneExport.h\"|#include \"workspace/CADEngine.h\""
  "model/TreeObject.cpp" "#include \"ui/MlsString.h\"|  #  include \"model/elements/Gears.h\""
  "workspace/WorkspaceCore.cpp" "#include \"model/TreeObject.h\"|#include \"ui/TextIds.h\""
  "ui/TreeObjectView.cpp" "#include \"ui/TreeObjectView.h\"|#include \"ui/PaneHeader.h\"|#include \"workspace/WorkspaceCore.h\""
  "ui/MainFrame.cpp" "#include \"ui/TreeObjectView.h\"|#include \"workspace/SplitterView.h\""
  "workspace/SplitterView.cpp" "#include \"ui/Object3DView.h\"|#include \"ui/PropertiesView.h\""
  "model/tests/TreeObjectTest.cpp" "#include \"ui/MainFrame.h\"")
run_check("${good}" code text)
expect("code EQUAL 0")
expect("EXISTS ${good}/stamp")
file(READ "${good}/stamp" stamp)
# The test's source is not counted: nine sources read.
expect("stamp MATCHES \"^9 sources\"")

# One wrong include of each kind, each named with its source and the two layers.
set(bad "${WORK}/bad")
write_sources("${bad}"
  "model/TreeObject.cpp" "#include \"ui/MainFrame.h\"|#include \"ui/TextIds.h\""
  "model/TreeObject.h" "#include \"workspace/WorkspaceCore.h\""
  "model/elements/Gears.cpp" "#include \"ui/PropertiesView.h\""
  "ui/MlsString.cpp" "#include \"ui/MainFrame.h\""
  "ui/TextIds.h" "#include \"model/Property.h\""
  "workspace/CADEngine.h" "#include \"model/TreeObject.h\""
  "workspace/WorkspaceCore.cpp" "#include \"workspace/SplitterView.h\"|#include \"ui/TreeObjectView.h\""
  "ui/Object3DView.cpp" "#include \"ui/TreeObjectView.h\"|#include \"ui/Object3DView.h\""
  "ui/TreeObjectView.cpp" "#include \"workspace/SplitterView.h\""
  "ui/PaneHeader.cpp" "#include \"ui/PropertiesView.h\""
  "xml/XMLNode.cpp" "#include \"model/TreeObject.h\"|#include \"host/Headless.h\"")
run_check("${bad}" code text)
expect("NOT code EQUAL 0")
expect("NOT EXISTS ${bad}/stamp")
foreach(line
    "model/TreeObject.cpp: ui/MainFrame.h (model may not use windows)"
    "model/TreeObject.h: workspace/WorkspaceCore.h (model may not use core)"
    "model/elements/Gears.cpp: ui/PropertiesView.h (model may not use pane)"
    "ui/MlsString.cpp: ui/MainFrame.h (text may not use windows)"
    "ui/TextIds.h: model/Property.h (text may not use model)"
    "workspace/CADEngine.h: model/TreeObject.h (engine may not use model)"
    "workspace/WorkspaceCore.cpp: workspace/SplitterView.h (core may not use windows)"
    "workspace/WorkspaceCore.cpp: ui/TreeObjectView.h (core may not use pane)"
    "ui/Object3DView.cpp: ui/TreeObjectView.h (pane may not use pane)"
    "ui/TreeObjectView.cpp: workspace/SplitterView.h (pane may not use windows)"
    "ui/PaneHeader.cpp: ui/PropertiesView.h (parts may not use pane)"
    "xml/XMLNode.cpp: model/TreeObject.h (xml may not use model)"
    "xml/XMLNode.cpp: host/Headless.h (xml may not use no layer)")
  string(FIND "${text}" "${line}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "not reported: ${line}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
# The allowed includes among them are not reported.
foreach(fine "ui/TextIds.h (model" "ui/Object3DView.h (pane")
  string(FIND "${text}" "${fine}" at)
  expect("at EQUAL -1")
endforeach()
expect("text MATCHES \"13 include[(]s[)] of the viewer run upward\"")

# An empty tree is refused rather than passed.
file(REMOVE_RECURSE "${WORK}/empty")
file(MAKE_DIRECTORY "${WORK}/empty")
run_check("${WORK}/empty" code text)
expect("NOT code EQUAL 0")
expect("text MATCHES \"no source found\"")

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} expectation(s) failed; the check said:\n${text}")
endif()
