# Runs one replay program on its target's seeds and kept crash inputs; included by the generated
# ReplayAll.cmake, which sets SEEDS and REGRESSIONS and calls replay() once a target.

function(replay name program)
    set(inputs "${SEEDS}/${name}")
    if(EXISTS "${REGRESSIONS}/${name}")
        list(APPEND inputs "${REGRESSIONS}/${name}")
    endif()
    execute_process(COMMAND "${program}" ${inputs} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        # SEND_ERROR: the other targets still run, and the test fails at the end.
        message(SEND_ERROR "fuzz target ${name} failed (${status})")
    endif()
endfunction()
