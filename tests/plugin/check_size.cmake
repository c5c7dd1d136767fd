# cmake -DPLUGIN=<so> -DSTRIP=<strip> -DSTRIPPED=<out> -DLIMIT=<bytes> -P check_size.cmake
# Strips a copy of the plug-in and fails when it is larger than LIMIT bytes.
execute_process(COMMAND ${STRIP} --strip-all -o ${STRIPPED} ${PLUGIN} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot strip ${PLUGIN}")
endif()
file(SIZE ${STRIPPED} size)
message(STATUS "stripped plug-in: ${size} bytes (limit ${LIMIT})")
if(size GREATER LIMIT)
    message(FATAL_ERROR "the stripped plug-in has ${size} bytes, more than ${LIMIT}")
endif()
