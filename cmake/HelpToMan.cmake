# Writes a man page from a program's --help and --version output, at build time:
#
#   cmake -DPROGRAM=<exe> [-DEMULATOR=<cmd|arg|...>] -DSECTION=1 -DOUTPUT=<file>
#         -P HelpToMan.cmake
#
# The help text is expected as the simulator prints it: a first line "<name> - <summary>",
# description lines, "Usage: ...", then blocks each under a heading that starts in column 0
# ("Options:", "Exit status"). Each block becomes a section of its own, kept as
# preformatted text so that option columns stay aligned. The page carries no date, so the
# same program always gives the same page.
cmake_policy(VERSION 3.25)

foreach(required PROGRAM SECTION OUTPUT)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "HelpToMan.cmake: -D${required}=... is required")
    endif()
endforeach()
string(REPLACE "|" ";" emulator "${EMULATOR}")

foreach(flag help version)
    execute_process(COMMAND ${emulator} ${PROGRAM} --${flag}
                    OUTPUT_VARIABLE ${flag} RESULT_VARIABLE result ERROR_VARIABLE errors)
    if(NOT result EQUAL 0 OR help STREQUAL "")
        message(FATAL_ERROR "${PROGRAM} --${flag} failed (${result}): ${errors}")
    endif()
endforeach()

# Roff escapes: backslashes first, then minus signs; a leading dot or quote would be read
# as a request.
function(roff_escape out text)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

string(REGEX MATCH "^[^\n]*" version_line "${version}")
# One list element per line; semicolons and brackets in the text are kept aside so that
# they neither split a line nor join lines.
string(REPLACE ";" "@semicolon@" help "${help}")
string(REPLACE "[" "@open@" help "${help}")
string(REPLACE "]" "@close@" help "${help}")
string(REPLACE "\n" ";" lines "${help}")
list(GET lines 0 title)
string(REPLACE "@open@" "[" title "${title}")
string(REPLACE "@close@" "]" title "${title}")
if(NOT title MATCHES "^([^ ]+) - (.*)$")
    message(FATAL_ERROR "${PROGRAM} --help: first line \"${title}\" is not \"<name> - <summary>\"")
endif()
set(name "${CMAKE_MATCH_1}")
roff_escape(summary "${CMAKE_MATCH_2}")
string(REGEX REPLACE "\\.$" "" summary "${summary}")
string(TOUPPER "${name}" upper_name)
roff_escape(escaped_name "${name}")
roff_escape(escaped_version "${version_line}")

set(page ".TH ${upper_name} ${SECTION} \"\" \"${escaped_version}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\n${escaped_name} \\- ${summary}\n")

# NAME, SYNOPSIS, DESCRIPTION, then one section per block of the help text.
set(state description)  # description, usage, block
set(description "")
set(synopsis "")
set(sections "")
list(REMOVE_AT lines 0)
foreach(line IN LISTS lines)
    string(REPLACE "@semicolon@" ";" line "${line}")
    string(REPLACE "@open@" "[" line "${line}")
    string(REPLACE "@close@" "]" line "${line}")
    roff_escape(text "${line}")
    if(line MATCHES "^Usage: [^ ]+ (.*)$")
        roff_escape(arguments "${CMAKE_MATCH_1}")
        set(synopsis ".SH SYNOPSIS\n.B ${escaped_name}\n${arguments}\n")
        set(state usage)
    elseif(NOT state STREQUAL "description" AND line MATCHES "^[^ \t]")
        if(state STREQUAL "block")
            string(APPEND sections ".fi\n")
        endif()
        string(REGEX REPLACE ":$" "" heading "${text}")
        string(TOUPPER "${heading}" heading)
        string(APPEND sections ".SH ${heading}\n.nf\n")
        set(state block)
    elseif(state STREQUAL "block")
        string(APPEND sections "${text}\n")
    elseif(state STREQUAL "description")
        if(line STREQUAL "")
            string(APPEND description ".PP\n")
        else()
            string(APPEND description "${text}\n")
        endif()
    endif()
endforeach()
if(state STREQUAL "block")
    string(APPEND sections ".fi\n")
endif()
string(APPEND page "${synopsis}.SH DESCRIPTION\n${description}${sections}")
file(WRITE "${OUTPUT}" "${page}")
