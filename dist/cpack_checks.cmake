# Read by cpack before it makes each package (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_DEBIAN_PACKAGE_SHLIBDEPS)
  find_program(ZUNA_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(NOT ZUNA_DPKG_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps est introuvable : le paquet n'aurait aucune dépendance (Depends). "
                        "Installez dpkg-dev (bash scripts/deps.sh) puis relancez cpack.")
  endif()
endif()
