# Builds the sample product's package: stages the script, the payload, the generated parts of
# the payload (help pages, the standard parts catalogue, templates, the materials database) and
# the drawn pictures, then packs the stage into Setup.data with `tlpack build --strict`, which
# checks the script against the stage first and refuses a package with errors or warnings.
#
#   cmake -DSOURCE=<sample-product folder> -DSTAGE=<stage folder> -DPICTURES=<drawn pictures>
#         -DCLIENT=<client MSI package> -DOUTPUT=<Setup.data> -DTLPACK=<tlpack program>
#         -P make_package.cmake
# Run with the stage folder as the working directory.
foreach(var SOURCE STAGE PICTURES CLIENT OUTPUT TLPACK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_package.cmake: ${var} is not set")
  endif()
endforeach()

file(GLOB old "${STAGE}/*")
if(old)
  file(REMOVE_RECURSE ${old})
endif()
file(COPY "${SOURCE}/payload/" DESTINATION "${STAGE}")
file(COPY "${SOURCE}/InstallScript.cfg" DESTINATION "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}/images" "${STAGE}/icons")
foreach(picture background.png banner_top.png banner_top_ru.png banner_left.png)
  file(COPY "${PICTURES}/${picture}" DESTINATION "${STAGE}/images")
endforeach()
file(COPY "${PICTURES}/setup.ico" "${PICTURES}/uninstall.ico" DESTINATION "${STAGE}/icons")
file(COPY "${CLIENT}" DESTINATION "${STAGE}/client")

# Help: an index and 120 topics.
set(topics "")
foreach(i RANGE 1 120)
  string(LENGTH "${i}" len)
  math(EXPR pad "3 - ${len}")
  string(REPEAT "0" ${pad} zeros)
  set(n "${zeros}${i}")
  math(EXPR chapter "(${i} - 1) / 20 + 1")
  file(WRITE "${STAGE}/help/topics/topic_${n}.html"
       "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Topic ${n}</title></head>\n"
       "<body><h1>Chapter ${chapter}, topic ${n}</h1>\n"
       "<p>This topic explains step ${i} of designing a shaft with TOLMERA Design 7: sections, grooves,"
       " chamfers and the gears and bearings that sit on them.</p>\n"
       "<p><a href=\"../index.html\">Contents</a></p></body></html>\n")
  string(APPEND topics "<li><a href=\"topics/topic_${n}.html\">Topic ${n}</a></li>\n")
endforeach()
file(WRITE "${STAGE}/help/index.html"
     "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>TOLMERA Design 7 Help</title></head>\n"
     "<body><h1>TOLMERA Design 7 Help</h1><ul>\n${topics}</ul></body></html>\n")

# The standard parts catalogue: 8 kinds of parts in 20 sizes each.
set(kinds bolt_iso4014 nut_iso4032 washer_iso7089 screw_iso4762 bearing_6200 bearing_6300 key_din6885 ring_din471)
foreach(kind ${kinds})
  foreach(size RANGE 3 22)
    math(EXPR d "${size} * 2")
    math(EXPR l1 "${d} * 3")
    math(EXPR l2 "${d} * 5")
    math(EXPR mass "${d} * ${d} * 7")
    file(WRITE "${STAGE}/catalog/${kind}/${kind}_M${d}.csv"
         "Designation;Diameter;Length;Mass(g)\n${kind} M${d}x${l1};${d};${l1};${mass}\n${kind} M${d}x${l2};${d};${l2};${mass}\n")
  endforeach()
endforeach()

# Drawing templates: sheet formats in two orientations and three title blocks.
foreach(format A0 A1 A2 A3)
  foreach(orientation portrait landscape)
    foreach(block simple full assembly)
      file(WRITE "${STAGE}/templates/${format}_${orientation}_${block}.tdt"
           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TEMPLATE Format=\"${format}\" Orientation=\"${orientation}\" TitleBlock=\"${block}\"/>\n")
    endforeach()
  endforeach()
endforeach()

# The materials database: a table of 400 steels in a fixed-width binary-ish layout.
set(rows "")
foreach(i RANGE 1 400)
  math(EXPR strength "300 + ${i} * 3")
  math(EXPR density "7750 + ${i} % 100")
  string(APPEND rows "STEEL-${i};${strength};${density};210000\n")
endforeach()
file(WRITE "${STAGE}/database/materials.mdb" "TOLMERA-MATERIALS-1\n${rows}")

execute_process(COMMAND "${TLPACK}" build "${STAGE}" -o "${OUTPUT}" --strict RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make_package.cmake: tlpack refused the sample product (status ${status})")
endif()
