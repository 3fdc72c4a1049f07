# Whether a packed firmware image is the repository's test image, told by its content: the
# test image, as kelvro-fwpack --test-image makes it, starts with the text "KELVRO TEST
# IMAGE", so a copy of it passes for controller firmware under no name and in no folder.
function(kelvro_is_test_image image out_var)
  # Compared as hex: a text read of a binary file is not byte for byte.
  file(READ "${image}" start LIMIT 17 HEX)
  string(HEX "KELVRO TEST IMAGE" marker)
  if(start STREQUAL marker)
    set(${out_var} true PARENT_SCOPE)
  else()
    set(${out_var} false PARENT_SCOPE)
  endif()
endfunction()
