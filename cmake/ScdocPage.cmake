# Makes one manual page from its scdoc source, written aside and renamed into place so that a
# failed run leaves no half page behind.
#   cmake -DSCDOC=... -DSOURCE=page.1.scd -DPAGE=page.1 -P ScdocPage.cmake
execute_process(COMMAND ${SCDOC} INPUT_FILE ${SOURCE} OUTPUT_FILE ${PAGE}.tmp
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(REMOVE ${PAGE}.tmp)
    message(FATAL_ERROR "scdoc failed on ${SOURCE}: ${status}")
endif()
file(RENAME ${PAGE}.tmp ${PAGE})
