# Runs qzbios-dump once and checks its exit code and what it wrote; a refusal (exit code 2) must
# be exactly one line on stderr.
#   cmake -DTOOL=... -DARGS="a|b" -DCODE=2 [-DSTDERR=regex] [-DSTDOUT=regex]
#         [-DGENERATE=kind -DINPUT=path] [-DEXPECT=file -DOUTPUT=path] [-DSTDOUT_FILE=file]
#         [-DMEMBER=text]
#         -P RunDumpTool.cmake
# GENERATE first writes a capture to INPUT: "setting" (one row, -DSETTING=name -DVALUE=raw), or a
# hostile one: "nested-arrays" or "nested-objects" (100,000 levels), "sparse" (a file that claims
# 5 GiB and holds none of it) or "sparse-16MiB" (the largest file a capture may be, all NUL bytes).
# EXPECT requires the file the tool wrote to OUTPUT to be that file, byte for byte, STDOUT_FILE its
# standard output, and MEMBER that standard output to hold that text.
# With -DROUND_TRIP=DIR -DEXPECTED=FILE -DWORK=FILE it records the firmware-attributes tree DIR to
# WORK, requires it to be FILE byte for byte, replays it, and requires the JSON of both runs to be
# identical; -DGENERATE=fifo-tree first makes DIR a tree of one attribute whose current_value is a
# FIFO.

# Fails unless `file` holds the same bytes as `expected`.
function(require_same_file file expected)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${file} ${expected}
                    RESULT_VARIABLE differs)
    if(differs)
        message(FATAL_ERROR "${file} differs from ${expected}")
    endif()
endfunction()

if(GENERATE STREQUAL "fifo-tree")
    # A FIFO where a current_value file should be, which git cannot hold: reading it must not block.
    file(REMOVE_RECURSE ${ROUND_TRIP})
    file(MAKE_DIRECTORY ${ROUND_TRIP}/dev/attributes/Fifo)
    execute_process(COMMAND mkfifo ${ROUND_TRIP}/dev/attributes/Fifo/current_value
                    RESULT_VARIABLE made)
    if(NOT made EQUAL 0)
        message(FATAL_ERROR "cannot create the FIFO in ${ROUND_TRIP}")
    endif()
endif()
if(ROUND_TRIP)
    set(ENV{QZ_FIRMWARE_ATTRIBUTES_DIR} ${ROUND_TRIP})
    execute_process(COMMAND ${TOOL} record ${WORK} RESULT_VARIABLE rc)
    execute_process(COMMAND ${TOOL} --format json OUTPUT_VARIABLE live)
    unset(ENV{QZ_FIRMWARE_ATTRIBUTES_DIR})
    execute_process(COMMAND ${TOOL} --capture ${WORK} --format json OUTPUT_VARIABLE replayed)
    if(NOT rc EQUAL 0 OR NOT live STREQUAL replayed)
        message(FATAL_ERROR "record exit ${rc}; live:\n${live}\nreplayed:\n${replayed}")
    endif()
    require_same_file(${WORK} ${EXPECTED})
    return()
endif()

if(GENERATE MATCHES "^sparse")
    file(REMOVE ${INPUT})
    set(size 5G)
    if(GENERATE STREQUAL "sparse-16MiB")
        set(size 16M)
    endif()
    execute_process(COMMAND truncate -s ${size} ${INPUT} RESULT_VARIABLE made)
    if(NOT made EQUAL 0)
        message(FATAL_ERROR "cannot create the sparse file ${INPUT}")
    endif()
elseif(GENERATE STREQUAL "setting")
    file(WRITE ${INPUT} "[{\"Name\": \"${SETTING}\", \"Value\": \"${VALUE}\"}]")
elseif(GENERATE MATCHES "^nested-")
    set(open "[")
    if(GENERATE STREQUAL "nested-objects")
        set(open "{\"a\":")
    endif()
    string(REPEAT "${open}" 100000 text)
    file(WRITE ${INPUT} "${text}")
endif()

string(REPLACE "|" ";" ARGS "${ARGS}")
execute_process(COMMAND ${TOOL} ${ARGS} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
if(NOT rc STREQUAL CODE)
    message(FATAL_ERROR "exit code ${rc}, expected ${CODE}\nstdout: ${out}\nstderr: ${err}")
endif()
if(STDOUT_FILE)
    file(READ ${STDOUT_FILE} expected)
    if(NOT out STREQUAL expected)
        message(FATAL_ERROR "stdout differs from ${STDOUT_FILE}:\n${out}")
    endif()
endif()
if(EXPECT)
    require_same_file(${OUTPUT} ${EXPECT})
endif()
if(INPUT)
    file(REMOVE ${INPUT})
endif()
if(CODE EQUAL 2 AND NOT err MATCHES "^[^\n]+\n$")
    message(FATAL_ERROR "a refusal must be one line on stderr, not:\n${err}")
endif()
if(DEFINED STDERR AND NOT err MATCHES "${STDERR}")
    message(FATAL_ERROR "stderr does not match '${STDERR}':\n${err}")
endif()
if(NOT MEMBER STREQUAL "")
    string(FIND "${out}" "${MEMBER}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "stdout lacks ${MEMBER}:\n${out}")
    endif()
endif()
if(DEFINED STDOUT AND NOT out MATCHES "${STDOUT}")
    message(FATAL_ERROR "stdout does not match '${STDOUT}':\n${out}")
endif()
