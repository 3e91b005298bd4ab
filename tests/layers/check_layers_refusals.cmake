# Runs scripts/check-layers on a copy of src/ with one include added at a time, and expects each
# include against the order inside src/app to be refused with a message naming the file, and
# each allowed one to pass. Variables: SOURCE_DIR (the tree), WORK_DIR (scratch), QTCORE_DIR.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK_DIR})
file(COPY ${SOURCE_DIR}/src DESTINATION ${WORK_DIR})
file(COPY ${SOURCE_DIR}/scripts/check-layers DESTINATION ${WORK_DIR}/scripts)

# file in src | include added | expected: refused or passes
set(cases
  "app/widgets/path_label.cpp|app/main_sheet.h|refused"
  "app/widgets/path_label.h|app/startup.h|refused"
  "app/widgets/view_folder.cpp|app/jobs/job_page_widget.h|refused"
  "app/widgets/desktop.cpp|app/capture/player_page.h|refused"
  "app/jobs/scale_image_page.cpp|app/main_sheet.h|refused"
  "app/capture/player_page.h|app/program_pages.h|refused"
  "app/capture/recording_line.cpp|app/jobs/job_summary_dialog.h|refused"
  "app/jobs/scale_image_page.cpp|app/widgets/message_box.h|passes"
  "app/capture/player_page.cpp|app/capture/recording_line.h|passes"
  "app/main_sheet.cpp|app/capture/player_page.h|passes"
  "app/widgets/path_label.cpp|image/dib_image.h|passes")

set(problems "")
function(run_check name expect)
  execute_process(COMMAND ${WORK_DIR}/scripts/check-layers ${QTCORE_DIR}
    RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
  if(expect STREQUAL "passes" AND NOT status EQUAL 0)
    string(APPEND problems "\n  ${name}: refused (${status}): ${err}")
  elseif(expect STREQUAL "refused")
    if(status EQUAL 0)
      string(APPEND problems "\n  ${name}: passed")
    elseif(NOT err MATCHES "check-layers: ${name}")
      string(APPEND problems "\n  ${name}: the message does not name it: ${err}")
    endif()
  endif()
  set(problems "${problems}" PARENT_SCOPE)
endfunction()

# The copy as it is passes, so that a refusal below is the added include's doing.
run_check("the unchanged tree" passes)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 file)
  list(GET fields 1 header)
  list(GET fields 2 expect)
  set(path ${WORK_DIR}/src/${file})
  file(READ ${path} original)
  file(APPEND ${path} "#include \"${header}\"\n")
  run_check("${file} includes ${header}" ${expect})
  file(WRITE ${path} "${original}")
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
if(problems)
  message(FATAL_ERROR "check-layers judged wrongly:${problems}")
endif()
list(LENGTH cases count)
message(STATUS "${count} includes judged as expected")
