target_sources(qxui PRIVATE
    ui/aboutform.cpp ui/aboutform.h
    ui/client_font.h
    ui/fitted_text.cpp ui/fitted_text.h
    ui/ipform.cpp ui/ipform.h
    ui/mainform.cpp ui/mainform.h
    ui/picture_button.cpp ui/picture_button.h
    ui/startform.cpp ui/startform.h
    ui/startup.cpp ui/startup.h
    ui/status_colors.cpp ui/status_colors.h
    ui/twips.h
    ui/ui.qrc
    ui/ui_resources.cpp ui/ui_resources.h
    ui/window_edge.cpp ui/window_edge.h
)
