"""The item-type codes that every EpubItem carries (``item.get_type()``)."""
from enum import IntEnum


class ItemType(IntEnum):
    OTHER = 0
    IMAGE = 1           # raster image (image/*, but not SVG)
    STYLE = 2           # text/css
    SCRIPT = 3          # JavaScript / ECMAScript
    NAVIGATION = 4      # navigation document or NCX
    VECTOR_IMAGE = 5    # image/svg+xml
    FONT = 6
    VIDEO = 7
    AUDIO = 8
    DOCUMENT = 9        # XHTML or HTML content document
    COVER = 10          # cover image
    MEDIA_OVERLAY = 11  # application/smil+xml


ITEM_OTHER = ItemType.OTHER
ITEM_IMAGE = ItemType.IMAGE
ITEM_STYLE = ItemType.STYLE
ITEM_SCRIPT = ItemType.SCRIPT
ITEM_NAVIGATION = ItemType.NAVIGATION
ITEM_VECTOR_IMAGE = ItemType.VECTOR_IMAGE
ITEM_FONT = ItemType.FONT
ITEM_VIDEO = ItemType.VIDEO
ITEM_AUDIO = ItemType.AUDIO
ITEM_DOCUMENT = ItemType.DOCUMENT
ITEM_COVER = ItemType.COVER
ITEM_MEDIA_OVERLAY = ItemType.MEDIA_OVERLAY
